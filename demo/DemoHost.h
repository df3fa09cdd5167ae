#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "CallStats.h"
#include "ImageBlocks.h"
#include "VEDerEveClient.h"
#include "VEDerEveEventSink.h"

class QLabel;
class QPlainTextEdit;
class WhiteBoard;

// A small conferencing client with two participants on one desktop. Each participant has a
// component object of its own (a panel over this window) on its own camera; every picture one
// panel sends (WebCamSnapShot) is copied from its block while the event runs and handed to the
// other panel (UpdateParticipant), so each panel's participant tab shows the other's camera.
// Frames that a panel directs to the white board (WebCamClientPicture) are drawn on the board.
// The window shows frames per second and the latency from a picture's arrival in the host to its
// appearance in the other panel; DemoHost::writeSummary() says exactly what is measured.
class DemoHost final : public QMainWindow
{
    Q_OBJECT
public:
    struct Options
    {
        QString output; // screenshots, event log and summary; none when empty
        int seconds = 0; // run this long, then leave; 0: until the window is closed
        bool pressPlay = false; // press each panel's Play with a synthetic click
        bool chooseDevices = false; // write each panel's camera into the (demo's own) settings
    };

    DemoHost(QDBusConnection bus, Options options);
    ~DemoHost() override;

    // Creates the two objects and runs the session. False when the component cannot be reached.
    bool start();
    // After a timed run: whether pictures reached both panels.
    bool callWorked() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Frame
    {
        int from = 0;
        std::int64_t arrivedNs = 0;
        QByteArray jpeg;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    struct Participant
    {
        QString name;
        QString location;
        std::int32_t device = 0;
        std::unique_ptr<VEDerEveClient> component;
        std::unique_ptr<VEDerEveEventSink> sink;
        std::uint32_t window = 0;
        QLabel *caption = nullptr;
        bool receiving = true;

        // What the panel sent.
        int snapshots = 0;
        int whiteBoardSnapshots = 0;
        int blocksMissing = 0;
        int clientPictures = 0;
        FrameRate sentRate;

        // What it was given and showed.
        std::optional<Frame> waiting;
        int replacedInHost = 0;
        int forwarded = 0;
        int forwardFailed = 0;
        DisplayWatch watch;
        FrameRate shownRate;
        LatencyStats latency;
        int skipped = 0;
    };

    void log(const QString &line);
    void screenshot(const QString &name);
    void placeComponents();
    void connectSink(int index);
    void onSnapShot(int index, std::int32_t imgNumber);
    void forwardWaiting();
    void forward(Participant &to, const Frame &frame);
    void pressPlay(int index);
    void startMeasuring();
    void pollDisplays();
    void refreshFigures();
    QString figures(const Participant &p) const;
    void writeSummary();
    void finish();

    QDBusConnection m_bus;
    Options m_options;
    std::array<Participant, 2> m_people;
    ImageBlockWriter m_writer;
    QElapsedTimer m_clock;
    QTimer m_poll;
    QTimer m_figuresTimer;
    bool m_forwarding = false;
    bool m_measuring = false;
    bool m_finished = false;
    std::int64_t m_measureStartNs = 0;
    std::int64_t m_measureEndNs = 0;

    QWidget *m_panelArea = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_figures = nullptr;
    QPlainTextEdit *m_log = nullptr;
    WhiteBoard *m_whiteBoard = nullptr;
    QFile m_eventLog;
};
