// The tab headers, the image buttons, the receive check box and collapse and expand.

#include "panel/cveDerEve.h"

void cveDerEve::picTabMain_MouseUp(int, int, int X, int Y)
{
    // The header areas of the two tabs; clicking the active tab's header does nothing.
    if (CurrentTab() != 0 && X >= 94 && X <= 177 && Y >= 3 && Y <= 16)
        setCurrentTab(0);
    else if (CurrentTab() == 0 && X >= 4 && X <= 78 && Y >= 3 && Y <= 16)
        setCurrentTab(1);
}

void cveDerEve::lblParticipant_Click()
{
    // The name label covers most of the participant tab's header, so it acts as that header.
    if (CurrentTab() == 1)
        setCurrentTab(0);
}

// Play and Pause look pressed while the left button is held on them (PanelControls gives them
// that look).
void cveDerEve::imgCamOnMain_MouseUp(int Button, int, int, int)
{
    if (Button != vb::vbLeftButton)
        return;
    CamOn();
    m_ResumeCam = false;
}

void cveDerEve::imgCamOffMain_MouseUp(int Button, int, int, int)
{
    if (Button != vb::vbLeftButton)
        return;
    CamOff();
    LastAttempt = 0;
    m_ResumeCam = false;
}

void cveDerEve::imgChk_Click()
{
    // The tag is the check box's state: empty while receiving, "x" while not.
    const bool receive = !imgChk->Tag.isEmpty();
    imgChk->Tag = receive ? QString() : QStringLiteral("x");
    Q_EMIT m_events.ReceiveCamImages(receive);
    showReceiving(receive);
}

void cveDerEve::showReceiving(bool receive)
{
    lblDisable->setVisible(!receive);
    imgChk->setToolTipText(receive ? QStringLiteral("Disable receiving")
                                   : QStringLiteral("Enable receiving"));
    imgChk->setPicture(img[receive ? 0 : 1]->Picture());
}

void cveDerEve::imgMinMax_Click()
{
    // picMain sizes itself to its picture, so its height tells the state: the full picture is as
    // high as picMainUp, the strip as high as picMainDown.
    if (picMain->height() == picMainUp->height()) {
        picMain->setPicture(picMainDown->Picture());
        imgMinMax->setPicture(imgUpArrow->Picture());
        imgMinMax->setToolTipText(QStringLiteral("Restore"));
        m_Maximized = false;
        Q_EMIT m_events.MinMaxResize(true, picMainDown->height());
    } else {
        picMain->setPicture(picMainUp->Picture());
        imgMinMax->setPicture(imgDArrow->Picture());
        lblStatus->setCaption(QString());
        imgMinMax->setToolTipText(QStringLiteral("Minimize"));
        m_Maximized = true;
        Q_EMIT m_events.MinMaxResize(false, picMainUp->height());
    }
}
