#pragma once

#include <QString>
#include <QStringView>
#include <QWidget>

#include <cstddef>
#include <cstdint>

#include "panel/cveDerEve.h"

// A test's view of a panel: controls and state read-only, widgets for mouse events, timer ticks on
// demand. Tests change the panel only as a parent or a person does.
class PanelTestAccess
{
public:
    explicit PanelTestAccess(cveDerEve *panel) : p(panel) { }

    // Controls by their names ("picParticipant", "img(0)", ...).
    const vb::PictureBox *box(const char *name) const { return find<vb::PictureBox>(name); }
    const vb::ImageControl *image(const char *name) const { return find<vb::ImageControl>(name); }
    const vb::Label *label(const char *name) const { return find<vb::Label>(name); }
    QWidget *widget(const char *name) const { return find<QWidget>(name); }

    // A menu entry of either menu tree by name ("mnuRateFast", "mnuDevices(1)"), or nullptr.
    const vb::MenuEntry *menu(QStringView name) const { return p->m_menus.find(name); }

    bool initialized() const { return p->m_Initialized; }
    std::int32_t deviceIndex() const { return p->DeviceIndex; }
    std::int32_t deviceCount() const { return p->DeviceCount; }
    std::int32_t windowPos() const { return p->WindowPos; }
    bool resumeCam() const { return p->m_ResumeCam; }
    bool menuOpen() const { return p->m_MenuOpen; }
    bool hardwareBusy() const { return p->HardwareBusyFlag; }
    std::int32_t lastAttempt() const { return p->LastAttempt; }
    const CaptureSession &capture() const { return p->m_Capture; }
    std::uint32_t heldBlock() const { return p->m_Sender.heldBlock().MapHandle(); }
    std::int32_t heldImageNumber() const { return p->m_Sender.heldNumber(); }
    const QByteArray &heldHeader() const { return p->m_Sender.heldHeader(); }

    bool readingDefaultPicture() const { return p->m_defaultPicReader.busy(); } // or waiting
    std::size_t queueLength() const { return p->ParticipantQueue.size(); }

    const CcrpTimer &tmrQueue() const { return *p->tmrQueue; }
    const CcrpTimer &tmrMain() const { return *p->tmrMain; }
    const CcrpTimer &tmrStart() const { return *p->tmrStart; }

    void tickQueue() const { p->tmrQueue_Timer(40); }
    void tickMain() const { p->tmrMain_Timer(120); }
    void tickStart() const { p->tmrStart_Timer(40); }

private:
    template<class T> T *find(const char *name) const
    {
        return p->findChild<T *>(QString::fromLatin1(name));
    }

    cveDerEve *p;
};
