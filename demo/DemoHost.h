#pragma once

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QTextStream>

#include <memory>

#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"

class ImageBlockWriter;

// A stand-in for the conferencing client: a window with a conference area, the component's
// window placed over its top-right corner, an event log, and a scripted session that exercises
// the component the way a client does.
class DemoHost final : public QMainWindow
{
    Q_OBJECT
public:
    DemoHost(QDBusConnection bus, QString outputFolder);
    ~DemoHost() override;

    // Creates the component's object and runs the scripted session; quits after seconds.
    bool start(int seconds);

private:
    void log(const QString &line);
    void screenshot(const QString &name);
    void placeComponent();
    void sendParticipantPicture(const QString &name, const QString &location, QColor tint);

    QDBusConnection m_bus;
    QString m_output;
    VEDerEveClient m_component;
    VEDerEveEventSink m_sink;
    std::unique_ptr<ImageBlockWriter> m_participantBlock;
    QLabel *m_log = nullptr;
    QFile m_summary;
    int m_snapshots = 0;
    int m_events = 0;
};
