// A parent process writes participant pictures into image blocks and announces them over the
// bus; the component, hosted in this process, shows them. Each format travels the whole way:
// shared memory, the bus call, the queue, the decoders and the participant box.

#include "PrivateBus.h"

#include "ImageBlocks.h"
#include "VEDerEveClient.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/ClassFactory.h"
#include "automation/frmWebCam.h"
#include "automation/zozEZUdeZid.h"
#include "panel/cveDerEve.h"
#include "support/PanelTestAccess.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>

#include <zlib.h>

#include <memory>
#include <vector>

namespace {

const QColor kFace(200, 40, 40);
constexpr int kWidth = 160;
constexpr int kHeight = 120;

std::vector<std::uint8_t> zlibPacked(const QByteArray &plain)
{
    uLongf length = compressBound(uLong(plain.size()));
    std::vector<std::uint8_t> out(length);
    compress2(out.data(), &length, reinterpret_cast<const Bytef *>(plain.constData()),
              uLong(plain.size()), Z_BEST_SPEED);
    out.resize(length);
    return out;
}

QByteArray jpegFile(const QImage &picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 95);
    return bytes;
}

// Bottom-up BGR rows, 160 pixels of 3 bytes: already a multiple of 4 bytes per row.
QByteArray bottomUpRows(const QImage &picture)
{
    QByteArray rows;
    for (int y = picture.height() - 1; y >= 0; --y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            rows.append(char(qBlue(p))).append(char(qGreen(p))).append(char(qRed(p)));
        }
    return rows;
}

// What the parent process does: write one block in the requested format and announce it.
int runParent()
{
    const int format = qEnvironmentVariableIntValue("PARENT_PICTURE_FORMAT");
    const QString path = qEnvironmentVariable("PARENT_OBJECT_PATH");
    QImage face(kWidth, kHeight, QImage::Format_RGB32);
    face.fill(kFace);

    QByteArray plain;
    std::vector<std::uint8_t> stored;
    ImageBlockWriter::Picture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.pictureFormat = format;
    if (format == 1 || format == 123) {
        plain = format == 1 ? bottomUpRows(face) : jpegFile(face);
        stored = zlibPacked(plain);
        picture.origSize = std::int32_t(plain.size());
    } else {
        plain = format == 2 ? jpegFile(face) : QByteArray(64, 'x');
        stored.assign(plain.begin(), plain.end());
    }
    picture.data = stored;
    ImageBlockWriter writer;
    const std::int32_t number = writer.write(picture);
    if (number == 0)
        return 2;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(bus::kServiceName), path,
                                                       QString::fromLatin1(bus::kObjectInterface),
                                                       QStringLiteral("UpdateParticipant"));
    call << number << QStringLiteral("  Ann Lee ") << QStringLiteral("Oslo office");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    // The block's name goes with this process; the panel opened it during the call.
    return reply.type() == QDBusMessage::ReplyMessage ? 0 : 3;
}

class ParticipantOverBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.start());
        m_host = std::make_unique<QDBusConnection>(m_bus.connect(QStringLiteral("host")));
        m_factory
            = std::make_unique<bus::ClassFactory>(*m_host, bus::ServerOptions {1000, 100, 60000});
        ASSERT_TRUE(m_factory->registerFactory());
        ASSERT_TRUE(m_host->registerService(QString::fromLatin1(bus::kServiceName)));
        m_parentConnection
            = std::make_unique<QDBusConnection>(m_bus.connect(QStringLiteral("parent")));
        m_client = std::make_unique<VEDerEveClient>(*m_parentConnection);
        ASSERT_TRUE(m_client->create());
        m_panel = m_factory->object(m_client->path())->form()->WebCam();
    }
    void TearDown() override
    {
        m_client.reset();
        m_factory.reset();
    }

    // Runs a parent process that sends one picture, then lets the queue show it.
    void sendFromParent(int format)
    {
        QProcess parent;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        env.insert(QStringLiteral("PARENT_OBJECT_PATH"), m_client->path());
        env.insert(QStringLiteral("PARENT_PICTURE_FORMAT"), QString::number(format));
        env.insert(QStringLiteral("VEDEREVE_PARENT_ROLE"), QStringLiteral("1"));
        parent.setProcessEnvironment(env);
        parent.setProcessChannelMode(QProcess::ForwardedChannels);
        parent.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--gtest_filter=ParentProcessRole.*")});
        // The parent's call is served by this thread's event loop.
        QElapsedTimer waited;
        waited.start();
        while (parent.state() != QProcess::NotRunning && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(parent.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(parent.exitCode(), 0);
        while (!(PanelTestAccess(m_panel).queueLength() == 0) && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE((PanelTestAccess(m_panel).queueLength() == 0));
        EXPECT_FALSE(PanelTestAccess(m_panel).tmrQueue().Enabled());
    }

    QRgb shownAt(int x, int y) const
    {
        return PanelTestAccess(m_panel).box("picParticipant")->Image().pixel(x, y);
    }

    PrivateBus m_bus;
    std::unique_ptr<QDBusConnection> m_host;
    std::unique_ptr<bus::ClassFactory> m_factory;
    std::unique_ptr<QDBusConnection> m_parentConnection;
    std::unique_ptr<VEDerEveClient> m_client;
    cveDerEve *m_panel = nullptr;
};

bool near(QRgb seen, QColor expected)
{
    return std::abs(qRed(seen) - expected.red()) <= 6
        && std::abs(qGreen(seen) - expected.green()) <= 6
        && std::abs(qBlue(seen) - expected.blue()) <= 6;
}

TEST_F(ParticipantOverBus, EveryFormatArrivesFromAParentProcess)
{
    struct Case
    {
        int format;
        QPoint topLeft; // where the picture lands; none for format 3
        bool drawn;
    };
    for (const Case &c : {Case {1, {8, 12}, true}, Case {123, {8, 12}, true},
                          Case {2, {0, 0}, true}, Case {3, {}, false}}) {
        SCOPED_TRACE(c.format);
        m_panel->EraseWebCam();
        const QImage before = PanelTestAccess(m_panel).box("picParticipant")->Image();
        sendFromParent(c.format);
        EXPECT_EQ(PanelTestAccess(m_panel).label("lblParticipant")->Caption(),
                  QStringLiteral("Ann Lee"));
        EXPECT_EQ(PanelTestAccess(m_panel).label("lblLocation")->Caption(),
                  QStringLiteral("Oslo office"));
        EXPECT_EQ(PanelTestAccess(m_panel).label("lblStatus")->Caption(),
                  QStringLiteral("[ New Image ]"));
        if (!c.drawn) {
            EXPECT_EQ(PanelTestAccess(m_panel).box("picParticipant")->Image(), before);
            continue;
        }
        const QPoint inside = c.topLeft + QPoint(kWidth / 2, kHeight / 2);
        EXPECT_TRUE(near(shownAt(inside.x(), inside.y()), kFace));
        EXPECT_TRUE(near(shownAt(c.topLeft.x(), c.topLeft.y()), kFace));
        EXPECT_TRUE(near(shownAt(c.topLeft.x() + kWidth - 1, c.topLeft.y() + kHeight - 1), kFace));
        if (c.topLeft != QPoint(0, 0)) { // centred: the margin keeps the box's background
            EXPECT_FALSE(near(shownAt(c.topLeft.x() - 1, c.topLeft.y() - 1), kFace));
        }
        EXPECT_FALSE(near(shownAt(c.topLeft.x() + kWidth, c.topLeft.y() + kHeight), kFace));
    }
}

TEST(ParentProcessRole, WritesAndAnnounces)
{
    if (qEnvironmentVariableIsEmpty("VEDEREVE_PARENT_ROLE"))
        GTEST_SKIP() << "runs only as the parent process of ParticipantOverBus";
    std::exit(runParent());
}

} // namespace
