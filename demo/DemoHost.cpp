#include "DemoHost.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "SyntheticClick.h"
#include "WhiteBoard.h"
#include "support/CRegSettings.h"
#include "support/SettingKeys.h"

namespace {

// Places inside a panel's window (the expanded panel at its top-left corner): the centre of the
// Play button (tab page at 1, 19; Play at 13, 169, 20 x 18) and the participant picture (at 13,
// 22 on the tab page). The compared width stops short of the receive check box at 156.
constexpr QPoint kPlayCentre(1 + 13 + 10, 19 + 169 + 9);
constexpr QRect kParticipantArea(1 + 13, 19 + 22, 150, 144);

constexpr int kPanelWidth = 202;
constexpr int kPanelGap = 24;
constexpr int kCaptionHeight = 34;
constexpr std::int32_t kParticipantDestination = 8;

// How often the host looks at a panel that has a picture coming: the latency figures are exact
// to within this period.
constexpr int kPollMs = 4;

QString ms(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
}

} // namespace

DemoHost::DemoHost(QDBusConnection bus, Options options)
    : m_bus(std::move(bus)), m_options(std::move(options))
{
    m_clock.start();
    m_people[0].name = QStringLiteral("Ann Lee");
    m_people[0].location = QStringLiteral("Oslo office");
    m_people[0].device = 0;
    m_people[1].name = QStringLiteral("Bo Ek");
    m_people[1].location = QStringLiteral("Rome");
    m_people[1].device = 1;

    setWindowTitle(QStringLiteral("Conference (demo host)"));
    auto *central = new QWidget(this);
    auto *grid = new QGridLayout(central);
    auto *title = new QLabel(QStringLiteral("<b>Design review</b> &mdash; %1 and %2")
                                 .arg(m_people[0].name, m_people[1].name));
    m_hint = new QLabel;
    m_hint->setWordWrap(true);
    m_figures = new QLabel;
    m_figures->setWordWrap(true);
    m_figures->setStyleSheet(QStringLiteral("font-family: monospace; font-size: 11px;"));
    m_log = new QPlainTextEdit;
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(200);
    m_log->setStyleSheet(QStringLiteral("font-family: monospace; font-size: 10px;"));
    m_panelArea = new QWidget;
    m_panelArea->setFixedSize(2 * kPanelWidth + kPanelGap, 215 + kCaptionHeight);
    for (int i = 0; i < 2; ++i) {
        Participant &p = m_people[std::size_t(i)];
        p.caption = new QLabel(m_panelArea);
        p.caption->setGeometry(i * (kPanelWidth + kPanelGap), 215 + 2, kPanelWidth,
                               kCaptionHeight - 2);
        p.caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        p.caption->setText(QStringLiteral("%1's panel<br><small>shows %2</small>")
                               .arg(p.name, m_people[std::size_t(1 - i)].name));
    }
    m_whiteBoard = new WhiteBoard;
    auto *left = new QVBoxLayout;
    left->addWidget(title);
    left->addWidget(m_hint);
    left->addWidget(m_figures);
    left->addWidget(m_log, 1);
    grid->addLayout(left, 0, 0, 2, 1);
    grid->addWidget(m_panelArea, 0, 1, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(m_whiteBoard, 1, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(1, 1);
    setCentralWidget(central);
    resize(960, 640);
    move(20, 20);

    if (!m_options.output.isEmpty()) {
        QDir().mkpath(m_options.output);
        m_eventLog.setFileName(QDir(m_options.output).filePath(QStringLiteral("events.log")));
        m_eventLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    }

    m_poll.setTimerType(Qt::PreciseTimer);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &DemoHost::pollDisplays);
    m_figuresTimer.setInterval(500);
    connect(&m_figuresTimer, &QTimer::timeout, this, &DemoHost::refreshFigures);

    for (int i = 0; i < 2; ++i) {
        m_people[std::size_t(i)].component = std::make_unique<VEDerEveClient>(m_bus);
        m_people[std::size_t(i)].sink = std::make_unique<VEDerEveEventSink>();
        connectSink(i);
    }
}

DemoHost::~DemoHost() = default;

void DemoHost::connectSink(int index)
{
    Participant &p = m_people[std::size_t(index)];
    VEDerEveEventSink *sink = p.sink.get();
    connect(sink, &VEDerEveEventSink::WebCamSnapShot, this,
            [this, index](QByteArray &, std::int32_t imgNumber) { onSnapShot(index, imgNumber); });
    connect(sink, &VEDerEveEventSink::WebCamClientPicture, this,
            [this, index](QByteArray &bytes, std::int32_t, std::int32_t wd, std::int32_t ht,
                          std::int32_t bits, std::int32_t pos) {
                Participant &from = m_people[std::size_t(index)];
                const QImage frame = imageFromBottomUpRows(bytes, wd, ht, bits);
                if (from.clientPictures++ == 0)
                    log(QStringLiteral("%1: first white-board frame, %2 x %3 x %4, at %5%6")
                            .arg(from.name)
                            .arg(wd)
                            .arg(ht)
                            .arg(bits)
                            .arg(pos)
                            .arg(frame.isNull() ? QStringLiteral(" (not a frame we can draw)")
                                                : QString()));
                m_whiteBoard->showFrame(frame, pos, from.name);
            });
    connect(sink, &VEDerEveEventSink::MinMaxResize, this, [this, index](bool minimized, int shift) {
        log(QStringLiteral("%1: MinMaxResize(%2, %3)")
                .arg(m_people[std::size_t(index)].name,
                     minimized ? QStringLiteral("True") : QStringLiteral("False"))
                .arg(shift));
    });
    connect(sink, &VEDerEveEventSink::EraseWebCam, this, [this, index] {
        log(QStringLiteral("%1: EraseWebCam()").arg(m_people[std::size_t(index)].name));
        m_whiteBoard->clear(m_people[std::size_t(index)].name);
    });
    connect(sink, &VEDerEveEventSink::ReceiveCamImages, this, [this, index](bool yorn) {
        // The person at that panel switched receiving off or on: a client stops or resumes
        // sending pictures there.
        m_people[std::size_t(index)].receiving = yorn;
        log(QStringLiteral("%1: ReceiveCamImages(%2)")
                .arg(m_people[std::size_t(index)].name,
                     yorn ? QStringLiteral("True") : QStringLiteral("False")));
    });
}

void DemoHost::log(const QString &line)
{
    const QString stamped
        = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line;
    std::printf("%s\n", qPrintable(stamped));
    std::fflush(stdout);
    if (m_eventLog.isOpen()) {
        m_eventLog.write(stamped.toUtf8() + '\n');
        m_eventLog.flush();
    }
    m_log->appendPlainText(line);
}

void DemoHost::screenshot(const QString &name)
{
    if (m_options.output.isEmpty())
        return;
    QApplication::processEvents();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = frameGeometry().adjusted(-8, -8, 8, 8);
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(m_options.output).filePath(name + QStringLiteral(".png"));
    if (shot.save(path))
        log(QStringLiteral("screenshot %1").arg(path));
}

void DemoHost::placeComponents()
{
    // Side by side over the panel area of this window. A panel starts collapsed to its strip and
    // grows upwards when expanded, so the strip goes where the expanded panel's bottom edge
    // will be.
    const QPoint area = m_panelArea->mapToGlobal(QPoint(0, 0));
    for (int i = 0; i < 2; ++i) {
        VEDerEveClient &component = *m_people[std::size_t(i)].component;
        component.SetPosition(area.y() + component.MaxHeight() - component.MinHeight(),
                              area.x() + i * (kPanelWidth + kPanelGap));
    }
}

bool DemoHost::start()
{
    for (int i = 0; i < 2; ++i) {
        Participant &p = m_people[std::size_t(i)];
        if (!p.sink->exportOn(m_bus, QStringLiteral("/demo/sink%1").arg(i + 1))) {
            log(QStringLiteral("cannot export the event sink"));
            return false;
        }
        // The panel reads its camera from the settings when its object is made, so each
        // participant's choice is written just before.
        if (m_options.chooseDevices)
            CRegSettings().SaveSetting(SettingKeys::Defaults, SettingKeys::WebCamDevice,
                                       QString::number(p.device));
        if (!p.component->create()) {
            log(QStringLiteral("cannot create the component: ") + p.component->lastError());
            return false;
        }
        p.component->advise(*p.sink);
        log(QStringLiteral("%1: %2 on camera %3%4")
                .arg(p.name, p.component->path())
                .arg(p.device)
                .arg(m_options.chooseDevices ? QString()
                                             : QStringLiteral(" (the saved one: not chosen)")));
    }
    show();
    QApplication::processEvents();
    placeComponents();
    for (Participant &p : m_people) {
        p.component->Show();
        p.component->setHeight(p.component->MinHeight());
        p.window = std::uint32_t(p.component->hWndCam());
        // A client allows sending from the start; the panel sends once its camera runs and
        // sending is switched on.
        p.component->setTransmitPost(true);
    }
    m_figuresTimer.start();

    std::vector<std::pair<int, std::function<void()>>> steps;
    steps.emplace_back(300, [this] {
        for (Participant &p : m_people)
            p.component->Maximize();
    });
    if (m_options.pressPlay) {
        // Play shows on the webcam tab only. Sending stays off until both cameras run, so that
        // no picture arrives at a panel still on its webcam tab (a new participant's picture
        // switches the panel to the participant tab).
        steps.emplace_back(700, [this] {
            for (Participant &p : m_people)
                p.component->setCurrentTab(1);
            m_hint->setText(QStringLiteral("Pressing Play on each panel..."));
        });
        steps.emplace_back(1200, [this] { screenshot(QStringLiteral("01-webcam-tabs")); });
        steps.emplace_back(1400, [this] { pressPlay(0); });
        steps.emplace_back(1700, [this] { pressPlay(1); });
        steps.emplace_back(2300, [this] {
            for (Participant &p : m_people) {
                p.component->setCurrentTab(0);
                p.component->setTransmitStatus(true);
            }
            m_hint->setText(QStringLiteral("In the call: each panel shows the other's camera."));
            startMeasuring();
        });
    } else {
        steps.emplace_back(700, [this] {
            for (Participant &p : m_people)
                p.component->setTransmitStatus(true);
            m_hint->setText(QStringLiteral(
                "On each panel open the webcam tab and press Play: the other panel's "
                "participant tab then shows that camera. Settings \u2192 Destination area "
                "sends a panel's frames to the white board."));
            startMeasuring();
        });
    }
    if (m_options.seconds > 0) {
        const int end = m_options.seconds * 1000;
        steps.emplace_back(end - 3000, [this] { screenshot(QStringLiteral("02-call")); });
        steps.emplace_back(end - 1000, [this] { screenshot(QStringLiteral("03-call-later")); });
        steps.emplace_back(end, [this] { finish(); });
    }
    for (auto &[at, run] : steps)
        QTimer::singleShot(at, this, run);
    return true;
}

void DemoHost::pressPlay(int index)
{
    Participant &p = m_people[std::size_t(index)];
    QString error;
    if (clickInWindow(p.window, kPlayCentre.x(), kPlayCentre.y(), &error))
        log(QStringLiteral("%1: Play pressed (synthetic click at %2, %3 in the panel)")
                .arg(p.name)
                .arg(kPlayCentre.x())
                .arg(kPlayCentre.y()));
    else
        log(QStringLiteral("%1: cannot press Play: %2").arg(p.name, error));
}

void DemoHost::startMeasuring()
{
    m_measuring = true;
    m_measureStartNs = m_clock.nsecsElapsed();
    log(QStringLiteral("measuring from here on"));
}

void DemoHost::onSnapShot(int index, std::int32_t imgNumber)
{
    const std::int64_t now = m_clock.nsecsElapsed();
    Participant &from = m_people[std::size_t(index)];
    // Now or never: the panel removes a camera frame's block as soon as this handler returns.
    const std::optional<ImageBlockCopy> block = readImageBlock(imgNumber);
    if (!block) {
        if (from.blocksMissing++ == 0)
            log(QStringLiteral("%1: WebCamSnapShot(%2) without a readable block")
                    .arg(from.name)
                    .arg(imgNumber));
        return;
    }
    if (from.snapshots++ == 0)
        log(QStringLiteral("%1: first WebCamSnapShot(%2): %3 x %4, %5 bytes, destination %6")
                .arg(from.name)
                .arg(imgNumber)
                .arg(block->header.Width)
                .arg(block->header.Height)
                .arg(block->data.size())
                .arg(block->header.Destination));
    if (m_measuring)
        from.sentRate.add(now);
    // Pictures for the white board reach it through WebCamClientPicture on every tick.
    if (block->header.Destination != kParticipantDestination) {
        ++from.whiteBoardSnapshots;
        return;
    }
    Participant &to = m_people[std::size_t(1 - index)];
    if (!to.receiving)
        return;
    // Only the newest picture waits: a client that falls behind skips frames rather than
    // showing old ones late.
    if (to.waiting)
        ++to.replacedInHost;
    to.waiting = Frame {index, now, block->data, block->header.Width, block->header.Height};
    // UpdateParticipant goes out after this handler has returned: the panel that raised the
    // event is still waiting for our answer.
    QMetaObject::invokeMethod(this, &DemoHost::forwardWaiting, Qt::QueuedConnection);
}

void DemoHost::forwardWaiting()
{
    // A call waits in a local event loop, where further pictures arrive; the loop below takes
    // them, so calls never nest.
    if (m_forwarding)
        return;
    m_forwarding = true;
    for (bool any = true; any;) {
        any = false;
        for (Participant &to : m_people) {
            if (!to.waiting)
                continue;
            any = true;
            const Frame frame = std::move(*to.waiting);
            to.waiting.reset();
            forward(to, frame);
        }
    }
    m_forwarding = false;
}

void DemoHost::forward(Participant &to, const Frame &frame)
{
    ImageBlockWriter::Picture picture;
    picture.data = frame.jpeg;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.pictureFormat = 2;
    picture.destination = kParticipantDestination;
    const std::int32_t number = m_writer.write(picture);
    if (number == 0) {
        if (to.forwardFailed++ == 0)
            log(QStringLiteral("cannot write a picture block for %1").arg(to.name));
        return;
    }
    if (m_measuring && !m_finished)
        to.watch.expect(frame.arrivedNs, QImage::fromData(frame.jpeg, "JPEG"));
    const Participant &from = m_people[std::size_t(frame.from)];
    const bool answered = to.component->UpdateParticipant(number, from.name, from.location);
    // The block is ours to remove once the call has returned; the panel keeps its own view.
    m_writer.release();
    if (answered)
        ++to.forwarded;
    else if (to.forwardFailed++ == 0)
        log(QStringLiteral("UpdateParticipant on %1 failed: %2")
                .arg(to.name, to.component->lastError()));
    if (!m_poll.isActive() && m_measuring)
        m_poll.start();
}

void DemoHost::pollDisplays()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    bool anyWaiting = false;
    for (Participant &p : m_people) {
        if (!p.watch.waiting() || !screen)
            continue;
        const QImage area = screen
                                ->grabWindow(p.window, kParticipantArea.x(), kParticipantArea.y(),
                                             kParticipantArea.width(), kParticipantArea.height())
                                .toImage();
        const std::int64_t now = m_clock.nsecsElapsed();
        if (const std::optional<DisplayWatch::Seen> seen = p.watch.observe(area, now)) {
            p.latency.add(seen->latencyNs);
            p.shownRate.add(now);
            p.skipped += seen->skipped;
        }
        anyWaiting = anyWaiting || p.watch.waiting();
    }
    if (!anyWaiting)
        m_poll.stop();
}

QString DemoHost::figures(const Participant &p) const
{
    const Participant &peer = m_people[std::size_t(&p == &m_people[0] ? 1 : 0)];
    return QStringLiteral("%1: sent %2 (%3 fps); shows %4: %5 of %6 seen (%7 fps), "
                          "latency mean %8 ms, p99 %9 ms")
        .arg(p.name)
        .arg(p.snapshots)
        .arg(ms(p.sentRate.perSecond()))
        .arg(peer.name)
        .arg(p.latency.count())
        .arg(p.forwarded)
        .arg(ms(p.shownRate.perSecond()))
        .arg(ms(p.latency.meanMs()))
        .arg(ms(p.latency.percentileMs(99)));
}

void DemoHost::refreshFigures()
{
    m_figures->setText(figures(m_people[0]) + QLatin1Char('\n') + figures(m_people[1]));
}

void DemoHost::writeSummary()
{
    if (m_options.output.isEmpty())
        return;
    QFile file(QDir(m_options.output).filePath(QStringLiteral("summary.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    const std::int64_t end = m_measureEndNs ? m_measureEndNs : m_clock.nsecsElapsed();
    const double seconds = m_measuring ? double(end - m_measureStartNs) / 1e9 : 0.0;
    QString text;
    text += QStringLiteral(
        "Demo call: two panels on one desktop, each showing the other's camera.\n");
    text += QStringLiteral("Measured over %1 s from the moment sending was switched on.\n\n")
                .arg(seconds, 0, 'f', 1);
    LatencyStats both;
    for (const Participant &p : m_people) {
        const Participant &peer = m_people[std::size_t(&p == &m_people[0] ? 1 : 0)];
        text += QStringLiteral("%1's panel (camera %2)\n").arg(p.name).arg(p.device);
        text += QStringLiteral("  frames sent (WebCamSnapShot)             %1, %2 fps\n")
                    .arg(p.snapshots)
                    .arg(ms(p.sentRate.perSecond()));
        if (p.whiteBoardSnapshots || p.clientPictures)
            text += QStringLiteral("  sent for the white board                 %1; "
                                   "white-board frames (WebCamClientPicture) %2\n")
                        .arg(p.whiteBoardSnapshots)
                        .arg(p.clientPictures);
        text += QStringLiteral("  frames received from %1 (UpdateParticipant) %2, "
                               "skipped in the host %3, failed %4\n")
                    .arg(peer.name)
                    .arg(p.forwarded)
                    .arg(p.replacedInHost)
                    .arg(p.forwardFailed);
        const int neverSeen = p.skipped + p.watch.overflowed();
        text += QStringLiteral("  frames seen in its participant area      %1, %2 fps; "
                               "never seen %3, on the way at the end %4\n")
                    .arg(p.latency.count())
                    .arg(ms(p.shownRate.perSecond()))
                    .arg(neverSeen)
                    .arg(std::max(0, p.forwarded - int(p.latency.count()) - neverSeen));
        text += QStringLiteral("  latency mean %1 ms, 99th percentile %2 ms, max %3 ms\n\n")
                    .arg(ms(p.latency.meanMs()), ms(p.latency.percentileMs(99)),
                         ms(p.latency.percentileMs(100)));
    }
    const auto shownFps = [this](int i) { return m_people[std::size_t(i)].shownRate.perSecond(); };
    text += QStringLiteral("Frames per second shown: %1 in %2's panel, %3 in %4's.\n")
                .arg(ms(shownFps(0)), m_people[0].name, ms(shownFps(1)), m_people[1].name);
    text += QStringLiteral("White board: %1 frames drawn.\n\n").arg(m_whiteBoard->framesShown());
    text
        += QStringLiteral(
               "Latency: from the moment the host receives a panel's WebCamSnapShot (raised in "
               "the\n"
               "capture tick that grabbed the frame, after the grab and the JPEG encoding) to the\n"
               "first grab of the other panel's window on the screen that shows that picture. It\n"
               "includes copying the block, handing the picture over with UpdateParticipant, the\n"
               "panel's queue timer, its decoding and painting, and the X server; it excludes the\n"
               "grab and encoding before the event, which the host cannot see. The host grabs the\n"
               "participant area every %1 ms while a picture is on its way, so each figure is "
               "late\n"
               "by up to %1 ms. A frame counts as seen when the area changes and then matches the\n"
               "picture handed over (decoded by the host, mean difference of at most 6 levels).\n"
               "Frames per second: frames seen in a panel, first to last, over the time between.\n")
               .arg(kPollMs);
    file.write(text.toUtf8());
    std::printf("%s", qPrintable(text));
    log(QStringLiteral("summary %1").arg(file.fileName()));
}

bool DemoHost::callWorked() const
{
    return m_people[0].latency.count() > 0 && m_people[1].latency.count() > 0;
}

void DemoHost::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_measureEndNs = m_clock.nsecsElapsed();
    m_poll.stop();
    refreshFigures();
    writeSummary();
    for (Participant &p : m_people)
        p.component->release();
    if (m_options.seconds > 0) {
        // Let the server end its objects and leave while the display is still there.
        auto *watcher = new QDBusServiceWatcher(QStringLiteral("com.zedazido.VEDerEve"), m_bus,
                                                QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, qApp, &QApplication::quit);
        QTimer::singleShot(3000, qApp, &QApplication::quit);
    }
}

void DemoHost::closeEvent(QCloseEvent *event)
{
    finish();
    event->accept();
}
