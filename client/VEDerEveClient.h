#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariant>

#include <cstdint>

class VEDerEveEventSink;

// A parent's handle on one component object on the session bus. create() asks the class factory
// for a new object (starting the server when needed); the destructor releases it.
//
// Every call waits for its reply while running a local event loop, so that the component's
// events (which call back into the parent's sink and wait for it) are served meanwhile, as a
// single-threaded COM client would serve them. Setters and methods return whether the call was
// answered; a get that could not be made returns 0 or false. lastError() tells why.
class VEDerEveClient final : public QObject
{
    Q_OBJECT
public:
    explicit VEDerEveClient(QDBusConnection connection, QObject *parent = nullptr);
    // Releases the object when this client still holds it.
    ~VEDerEveClient() override;

    VEDerEveClient(const VEDerEveClient &) = delete;
    VEDerEveClient &operator=(const VEDerEveClient &) = delete;

    // Creates the object (once). Returns false when the factory could not be reached.
    bool create();
    // Releases the object now; afterwards the client holds nothing.
    bool release();
    bool isValid() const { return !m_path.isEmpty(); }
    const QString &path() const { return m_path; }
    const QString &lastError() const { return m_lastError; }
    QDBusConnection connection() const { return m_connection; }

    // Registers a sink exported on this client's connection.
    bool advise(const VEDerEveEventSink &sink);

    // Waiting bound of every call in milliseconds; -1 (the default) is the bus library's own.
    void setCallTimeout(int ms) { m_callTimeoutMs = ms; }

    // The automation members, letter for letter.
    bool Maximize();
    bool EraseWebCam();
    bool Visible();
    bool setVisible(bool YorN);
    std::int32_t hWndCam();
    bool Show();
    bool SetPosition(std::int32_t TopPos, std::int32_t LeftPos);
    bool UpdateParticipant(std::int32_t imgNumber, const QString &PName, const QString &Location);
    bool Minimize();
    std::int32_t Height();
    bool setHeight(std::int32_t Camheight);
    std::int32_t CaptureInterval();
    bool setCaptureInterval(std::int32_t Interval);
    bool Maximized();
    bool TransmitStatus();
    bool setTransmitStatus(bool Status);
    bool BeforeUnload();
    bool setDebugFlag(bool Value);
    bool setTransmitPost(bool YorN);
    bool setParentHandle(std::int32_t handle);
    bool setPause(bool Value);
    std::int32_t MinHeight();
    std::int32_t MaxHeight();
    bool WebCamDefaultPic(const QString &NewValue);
    bool setCurrentTab(std::int32_t Value);
    std::int32_t CurrentTab();
    bool RecieveWebCamImages(bool YorN);

private:
    // Calls a method of the object; the reply's first value, or an invalid QVariant.
    QVariant call(const char *member, const QVariantList &arguments, bool *answered = nullptr);
    // Calls a method whose reply carries nothing; whether it was answered.
    bool invoke(const char *member, const QVariantList &arguments);
    QVariant property(const char *name);
    bool setProperty(const char *name, const QVariant &value);
    QVariant callService(const QString &path, const QString &interface, const QString &member,
                         const QVariantList &arguments, bool *answered);

    QDBusConnection m_connection;
    QString m_path;
    QString m_lastError;
    int m_callTimeoutMs = -1;
};
