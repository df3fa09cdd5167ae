#include "panel/VbControls.h"

#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "base/ExceptionFilter.h"

namespace vb {
namespace {

int buttonOf(const QMouseEvent *event)
{
    switch (event->button()) {
    case Qt::LeftButton:
        return vbLeftButton;
    case Qt::RightButton:
        return vbRightButton;
    case Qt::MiddleButton:
        return vbMiddleButton;
    default:
        return 0;
    }
}

int shiftOf(const QMouseEvent *event)
{
    int shift = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        shift |= 1;
    if (event->modifiers() & Qt::ControlModifier)
        shift |= 2;
    if (event->modifiers() & Qt::AltModifier)
        shift |= 4;
    return shift;
}

void runMouse(const MouseHandler &handler, const QMouseEvent *event)
{
    if (!handler)
        return;
    const QPoint pos = event->position().toPoint();
    const int button = buttonOf(event);
    const int shift = shiftOf(event);
    ExceptionFilter::Guarded([&] { handler(button, shift, pos.x(), pos.y()); });
}

void runClick(const ClickHandler &handler)
{
    if (handler)
        ExceptionFilter::Guarded([&] { handler(); });
}

} // namespace

PictureControl::PictureControl(QWidget *parent, const QString &name) : QWidget(parent)
{
    setObjectName(name);
}

void PictureControl::setBorderStyle(int style)
{
    BorderStyle = style;
    update();
}

void PictureControl::paintBorder()
{
    if (BorderStyle == 0)
        return;
    QPainter painter(this);
    painter.setPen(QColor(64, 64, 64));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PictureControl::mousePressEvent(QMouseEvent *event)
{
    mouseButton(event, true);
}

void PictureControl::mouseReleaseEvent(QMouseEvent *event)
{
    mouseButton(event, false);
}

// The border of a control with a pressed look follows its buttons: single while one is held.
// A disabled control keeps its look and runs no handler.
void PictureControl::mouseButton(QMouseEvent *event, bool down)
{
    if (!isEnabled())
        return;
    if (PressedLook & buttonOf(event))
        setBorderStyle(down ? 1 : 0);
    runMouse(down ? MouseDown : MouseUp, event);
    if (!down && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        runClick(Click);
}

PictureBox::PictureBox(QWidget *parent, const QString &name) : PictureControl(parent, name)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image = QImage(1, 1, QImage::Format_RGB32);
    m_image.fill(BackColor);
    m_surface = std::make_unique<platform::gdi::ImageSurface>(&m_image, [this] { update(); });
    m_hdc = platform::gdi::registerSurface(m_surface.get());
}

PictureBox::~PictureBox()
{
    platform::gdi::unregisterSurface(m_hdc);
}

void PictureBox::place(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
    rebuildImage();
}

void PictureBox::setPicture(const QImage &picture)
{
    // A picture with transparent parts (a GIF's transparent colour, a PNG's alpha) keeps them, so
    // that the back colour shows through where the picture has nothing to show.
    const QImage::Format format
        = picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    m_picture = picture.isNull() ? QImage() : picture.convertToFormat(format);
    if (AutoSize && !m_picture.isNull())
        resize(m_picture.size());
    rebuildImage();
}

void PictureBox::keepDrawing()
{
    // Shared until either side changes: the next drawing detaches the image from the picture.
    m_picture = m_image;
}

void PictureBox::Cls()
{
    CurrentX = 0;
    CurrentY = 0;
    rebuildImage();
}

void PictureBox::setBackColor(const QColor &color)
{
    BackColor = color;
    rebuildImage();
}

void PictureBox::PaintPicture(const QImage &picture, int x, int y, int width, int height)
{
    if (picture.isNull())
        return;
    {
        QPainter painter(&m_image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(x, y, width, height), picture);
    }
    update();
}

void PictureBox::Print(const QString &text)
{
    {
        QPainter painter(&m_image);
        painter.setFont(Font);
        painter.setPen(ForeColor);
        const QFontMetrics metrics(Font);
        painter.drawText(CurrentX, CurrentY + metrics.ascent(), text);
        CurrentY += metrics.height();
    }
    CurrentX = 0;
    update();
}

void PictureBox::rebuildImage()
{
    // The surface keeps pointing at m_image; only its contents and size change. Pixels nobody
    // else holds are redrawn where they are rather than in a fresh image.
    const QSize size(std::max(1, width()), std::max(1, height()));
    if (m_image.size() != size || !m_image.isDetached())
        m_image = QImage(size, QImage::Format_RGB32);
    m_image.fill(BackColor);
    if (!m_picture.isNull()) {
        QPainter painter(&m_image);
        painter.drawImage(0, 0, m_picture);
    }
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
    painter.end();
    paintBorder();
}

void PictureBox::resizeEvent(QResizeEvent *)
{
    if (m_image.size() != size())
        rebuildImage();
}

ImageControl::ImageControl(QWidget *parent, const QString &name) : PictureControl(parent, name)
{ }

void ImageControl::place(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void ImageControl::setPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

void ImageControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_picture.isNull()) {
        if (Stretch)
            painter.drawImage(rect(), m_picture);
        else
            painter.drawImage(0, 0, m_picture);
    }
    painter.end();
    paintBorder();
}

Label::Label(QWidget *parent, const QString &name) : QLabel(parent)
{
    setObjectName(name);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setForeColor(Qt::black);
}

void Label::place(int left, int top, int width, int height)
{
    setGeometry(left, top, width, height);
}

void Label::setForeColor(const QColor &color)
{
    m_foreColor = color;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
}

void Label::mousePressEvent(QMouseEvent *event)
{
    // Accepted, so that the release comes here too rather than to the control below.
    event->accept();
}

void Label::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        runClick(Click);
}

MenuArray::MenuArray(MenuEntry *header, const QString &name, const QString &caption0)
    : m_header(header), m_name(name)
{
    Load(0)->Caption = caption0;
}

MenuEntry *MenuArray::at(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return m_entries[static_cast<size_t>(index)].get();
}

MenuEntry *MenuArray::Load(int index)
{
    if (MenuEntry *existing = at(index))
        return existing;
    if (index != Count())
        return nullptr;
    auto entry = std::make_unique<MenuEntry>(m_name + QLatin1Char('(') + QString::number(index)
                                             + QLatin1Char(')'));
    entry->Click = [this, index] {
        if (Click)
            Click(index);
    };
    MenuEntry *raw = entry.get();
    m_entries.push_back(std::move(entry));
    m_header->Children.push_back(raw);
    return raw;
}

void MenuArray::UnloadLast()
{
    if (Count() <= 1)
        return;
    MenuEntry *last = m_entries.back().get();
    auto &children = m_header->Children;
    children.erase(std::remove(children.begin(), children.end(), last), children.end());
    m_entries.pop_back();
}

MenuEntry &MenuTree::add(MenuKind kind, const QString &name, const QString &caption,
                         const QString &parent)
{
    m_entries.push_back(std::make_unique<MenuEntry>(name, caption, kind));
    if (!parent.isEmpty())
        (*this)[parent].Children.push_back(m_entries.back().get());
    return *m_entries.back();
}

MenuArray &MenuTree::addArray(const QString &name, const QString &caption, const QString &parent)
{
    m_arrays.push_back(std::make_unique<MenuArray>(&(*this)[parent], name, caption));
    return *m_arrays.back();
}

MenuEntry *MenuTree::find(QStringView name) const
{
    for (const auto &entry : m_entries) {
        if (entry->Name == name)
            return entry.get();
    }
    for (const auto &array : m_arrays) {
        for (int i = 0; i < array->Count(); ++i) {
            if (array->at(i)->Name == name)
                return array->at(i);
        }
    }
    return nullptr;
}

MenuEntry &MenuTree::operator[](QStringView name) const
{
    MenuEntry *entry = find(name);
    Q_ASSERT_X(entry, "MenuTree", "no menu entry of that name");
    return entry ? *entry : m_unknown;
}

MenuArray &MenuTree::array(QStringView name) const
{
    for (const auto &array : m_arrays) {
        if (array->Name() == name)
            return *array;
    }
    Q_ASSERT_X(false, "MenuTree", "no menu array of that name");
    if (!m_unknownArray)
        m_unknownArray = std::make_unique<MenuArray>(&m_unknown, QString(), QString());
    return *m_unknownArray;
}

QString menuText(const QString &caption, const QString &accessKey)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != u'&')
            continue;
        if (caption[i + 1] != u'&')
            return caption;
        ++i;
    }
    const qsizetype at = accessKey.isEmpty() ? -1 : caption.indexOf(accessKey);
    if (at < 0)
        return caption;
    return caption.left(at) + u'&' + caption.mid(at);
}

namespace {
void fillMenu(QMenu *menu, const MenuEntry &header, const MenuEntry **chosen)
{
    menu->setToolTipsVisible(true);
    for (const MenuEntry *entry : header.Children) {
        if (!entry->Visible)
            continue;
        if (entry->Kind == MenuKind::Separator) {
            menu->addSeparator();
            continue;
        }
        // Menus read "&&" as a literal ampersand and "&x" as an access key, as captions expect.
        const QString text = menuText(entry->Caption, entry->AccessKey);
        QAction *action = nullptr;
        if (entry->Kind == MenuKind::Submenu) {
            QMenu *sub = menu->addMenu(text);
            sub->setEnabled(entry->Enabled);
            fillMenu(sub, *entry, chosen);
            action = sub->menuAction();
        } else {
            action = menu->addAction(text);
            action->setEnabled(entry->Enabled);
            action->setCheckable(entry->Checked);
            action->setChecked(entry->Checked);
            QObject::connect(action, &QAction::triggered, [chosen, entry] { *chosen = entry; });
        }
        if (!entry->Enabled && !entry->DisabledToolTip.isEmpty())
            action->setToolTip(entry->DisabledToolTip);
    }
}
} // namespace

void PopupMenu(QWidget *owner, const MenuEntry &header)
{
    QMenu menu(owner);
    const MenuEntry *chosen = nullptr;
    fillMenu(&menu, header, &chosen);
    menu.exec(QCursor::pos());
    if (chosen)
        runClick(chosen->Click);
}

} // namespace vb
