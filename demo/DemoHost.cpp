#include "DemoHost.h"

#include <QApplication>
#include <QBuffer>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

#include "ImageBlocks.h"

namespace {

// The conference area the parent draws its own content in.
QImage conferencePicture(const QString &name, QColor tint)
{
    QImage picture(160, 120, QImage::Format_RGB32);
    picture.fill(tint);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(tint.lighter(150));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(80, 48), 24, 28);
    painter.drawEllipse(QRectF(36, 82, 88, 70));
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 160, 18), Qt::AlignCenter, name);
    return picture;
}

} // namespace

DemoHost::DemoHost(QDBusConnection bus, QString outputFolder)
    : m_bus(bus), m_output(std::move(outputFolder)), m_component(bus)
{
    setWindowTitle(QStringLiteral("Conference (demo host)"));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    auto *title = new QLabel(QStringLiteral("<b>Weekly design review</b> &mdash; 3 participants"));
    m_log = new QLabel;
    m_log->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_log->setStyleSheet(QStringLiteral("font-family: monospace; font-size: 11px;"));
    layout->addWidget(title);
    layout->addWidget(m_log, 1);
    setCentralWidget(central);
    resize(720, 480);
    move(20, 20);

    if (!m_output.isEmpty()) {
        QDir().mkpath(m_output);
        m_summary.setFileName(QDir(m_output).filePath(QStringLiteral("summary.txt")));
        m_summary.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    }

    connect(&m_sink, &VEDerEveEventSink::MinMaxResize, this, [this](bool minimized, int shift) {
        ++m_events;
        log(QStringLiteral("event MinMaxResize(%1, %2)")
                .arg(minimized ? QStringLiteral("True") : QStringLiteral("False"))
                .arg(shift));
    });
    connect(&m_sink, &VEDerEveEventSink::WebCamSnapShot, this,
            [this](QByteArray &picHdr, std::int32_t imgNumber) {
                ++m_events;
                // A parent reads the block while it handles the event.
                const auto block = readImageBlock(imgNumber);
                log(QStringLiteral("event WebCamSnapShot(%1 header bytes, image %2): %3")
                        .arg(picHdr.size())
                        .arg(imgNumber)
                        .arg(block ? QStringLiteral("%1 x %2, %3 bytes")
                                         .arg(block->header.Width)
                                         .arg(block->header.Height)
                                         .arg(block->data.size())
                                   : QStringLiteral("block gone")));
            });
    connect(&m_sink, &VEDerEveEventSink::WebCamClientPicture, this,
            [this](QByteArray &bytes, std::int32_t, std::int32_t wd, std::int32_t ht,
                   std::int32_t bits, std::int32_t pos) {
                ++m_events;
                log(QStringLiteral("event WebCamClientPicture(%1 bytes, %2 x %3 x %4, at %5)")
                        .arg(bytes.size())
                        .arg(wd)
                        .arg(ht)
                        .arg(bits)
                        .arg(pos));
            });
    connect(&m_sink, &VEDerEveEventSink::EraseWebCam, this, [this] {
        ++m_events;
        log(QStringLiteral("event EraseWebCam()"));
    });
    connect(&m_sink, &VEDerEveEventSink::ReceiveCamImages, this, [this](bool yorn) {
        ++m_events;
        log(QStringLiteral("event ReceiveCamImages(%1)")
                .arg(yorn ? QStringLiteral("True") : QStringLiteral("False")));
    });
}

DemoHost::~DemoHost() = default;

void DemoHost::log(const QString &line)
{
    const QString stamped
        = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line;
    std::printf("%s\n", qPrintable(stamped));
    std::fflush(stdout);
    if (m_summary.isOpen()) {
        m_summary.write(stamped.toUtf8() + '\n');
        m_summary.flush();
    }
    QStringList lines = m_log->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.append(line);
    while (lines.size() > 24)
        lines.removeFirst();
    m_log->setText(lines.join(QLatin1Char('\n')));
}

void DemoHost::screenshot(const QString &name)
{
    if (m_output.isEmpty())
        return;
    QApplication::processEvents();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = frameGeometry().united(QRect(0, 0, 760, 520));
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(m_output).filePath(name + QStringLiteral(".png"));
    if (shot.save(path))
        log(QStringLiteral("screenshot %1").arg(path));
}

void DemoHost::placeComponent()
{
    // Over the top-right corner of the conference window, as a client places it. The panel
    // starts collapsed to its strip and grows upwards when expanded, so the strip goes where
    // the expanded panel's bottom edge will be.
    const QRect inner = geometry();
    const std::int32_t expandedTop = inner.top() + 40;
    m_component.SetPosition(expandedTop + m_component.MaxHeight() - m_component.MinHeight(),
                            inner.right() - 202 - 16);
}

void DemoHost::sendParticipantPicture(const QString &name, const QString &location, QColor tint)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    conferencePicture(name, tint).save(&buffer, "JPEG", 80);
    if (!m_participantBlock)
        m_participantBlock = std::make_unique<ImageBlockWriter>();
    ImageBlockWriter::Picture picture;
    picture.data = {reinterpret_cast<const std::uint8_t *>(jpeg.constData()),
                    static_cast<std::size_t>(jpeg.size())};
    picture.width = 160;
    picture.height = 120;
    picture.pictureFormat = 2;
    const std::int32_t number = m_participantBlock->write(picture);
    log(QStringLiteral("UpdateParticipant(%1, %2, %3)").arg(number).arg(name, location));
    m_component.UpdateParticipant(number, name, location);
}

bool DemoHost::start(int seconds)
{
    if (!m_sink.exportOn(m_bus, QStringLiteral("/demo/sink"))) {
        log(QStringLiteral("cannot export the event sink"));
        return false;
    }
    if (!m_component.create()) {
        log(QStringLiteral("cannot create the component: ") + m_component.lastError());
        return false;
    }
    m_component.advise(m_sink);
    log(QStringLiteral("created %1").arg(m_component.path()));
    show();
    placeComponent();
    m_component.Show();
    m_component.setHeight(m_component.MinHeight());
    log(QStringLiteral("hWndCam = %1, Height = %2, MinHeight = %3, MaxHeight = %4")
            .arg(m_component.hWndCam())
            .arg(m_component.Height())
            .arg(m_component.MinHeight())
            .arg(m_component.MaxHeight()));

    struct Step
    {
        int at;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {600, [this] { screenshot(QStringLiteral("01-after-show")); }},
        {900, [this] { m_component.Maximize(); }},
        {1500, [this] { screenshot(QStringLiteral("02-expanded")); }},
        {1800,
         [this] {
             sendParticipantPicture(QStringLiteral("Ann Lee"), QStringLiteral("Oslo office"),
                                    QColor(70, 110, 160));
         }},
        {2600, [this] { screenshot(QStringLiteral("03-participant-picture")); }},
        {2900,
         [this] {
             m_component.setTransmitPost(true);
             m_component.setTransmitStatus(true);
             m_component.setCurrentTab(1);
         }},
        {3600, [this] { screenshot(QStringLiteral("04-webcam-tab")); }},
        {3900, [this] { m_component.setCurrentTab(0); }},
        {4200, [this] { m_component.Minimize(); }},
        {4500,
         [this] {
             sendParticipantPicture(QStringLiteral("Bo Ek"), QStringLiteral("Rome"),
                                    QColor(150, 90, 70));
         }},
        {5200, [this] { screenshot(QStringLiteral("05-minimised-new-image")); }},
    };
    for (const Step &step : steps)
        QTimer::singleShot(step.at, this, step.run);
    if (seconds > 0) {
        QTimer::singleShot(seconds * 1000, this, [this] {
            log(QStringLiteral("done: %1 events received").arg(m_events));
            m_component.release();
            // Let the server end its last object and leave while the display is still there.
            auto *watcher
                = new QDBusServiceWatcher(QStringLiteral("com.zedazido.VEDerEve"), m_bus,
                                          QDBusServiceWatcher::WatchForUnregistration, this);
            connect(watcher, &QDBusServiceWatcher::serviceUnregistered, qApp, &QApplication::quit);
            QTimer::singleShot(3000, qApp, &QApplication::quit);
        });
    }
    return true;
}
