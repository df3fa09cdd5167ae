#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gdi/Gdi.h"

// A thin layer of controls that behave like the form controls the panel was designed with:
// pixel positions, a picture that persists, a drawn image behind a device context, tags and
// tool tips. Every event handler runs inside the fault guard.
namespace vb {

constexpr int vbLeftButton = 1;
constexpr int vbRightButton = 2;
constexpr int vbMiddleButton = 4;

using MouseHandler = std::function<void(int Button, int Shift, int X, int Y)>;
using ClickHandler = std::function<void()>;

// What every control carries besides its widget: a tag for the code's own state, and a picture
// for those that show one (the skin assigns pictures to controls by name).
class ControlBase
{
public:
    virtual ~ControlBase() = default;
    QString Tag;
    // Position and size in pixels within the container.
    virtual void place(int, int, int, int) { }
    virtual void setPicture(const QImage &) { }
};

// What the picture box and the image control share: a border, a pressed look, and mouse and
// click handlers, each run inside the fault guard.
class PictureControl : public QWidget, public ControlBase
{
    Q_OBJECT
public:
    explicit PictureControl(QWidget *parent, const QString &name);

    int BorderStyle = 0;
    void setBorderStyle(int style);
    // The buttons (vbLeftButton | ...) that give the control a single border while they are held
    // down on it, the look of a pressed button.
    int PressedLook = 0;

    MouseHandler MouseDown;
    MouseHandler MouseUp;
    ClickHandler Click;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // Draws the border over what the control painted.
    void paintBorder();

private:
    void mouseButton(QMouseEvent *event, bool down);
};

// Picture box: a Picture that the box shows, and a persistent drawn Image (the hDC surface) that
// starts as the picture over the back colour. Drawing goes to the image; `Picture = Image` makes
// the drawing the picture.
class PictureBox final : public PictureControl
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent, const QString &name);
    ~PictureBox() override;

    void place(int left, int top, int width, int height) override;

    const QImage &Picture() const { return m_picture; }
    void setPicture(const QImage &picture) override; // null image = no picture
    bool hasPicture() const { return !m_picture.isNull(); }
    // The drawn image: what the box shows.
    const QImage &Image() const { return m_image; }
    // Picture = Image.
    void keepDrawing();
    // Clears the drawing back to the picture over the back colour; resets the print position.
    void Cls();
    platform::gdi::HDC hDC() const { return m_hdc; }

    QColor BackColor = Qt::white;
    void setBackColor(const QColor &color);
    // The box sizes itself to each new picture.
    bool AutoSize = false;

    // Draws picture scaled into the rectangle of the drawing.
    void PaintPicture(const QImage &picture, int x, int y, int width, int height);

    // Text printing with a current position, as the box's Print does.
    QFont Font;
    QColor ForeColor = Qt::black;
    int CurrentX = 0;
    int CurrentY = 0;
    void Print(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void rebuildImage();

    QImage m_picture;
    QImage m_image;
    std::unique_ptr<platform::gdi::ImageSurface> m_surface;
    platform::gdi::HDC m_hdc = 0;
};

// Image control: shows its picture at its top-left corner (or stretched to its size).
class ImageControl final : public PictureControl
{
    Q_OBJECT
public:
    explicit ImageControl(QWidget *parent, const QString &name);

    void place(int left, int top, int width, int height) override;
    const QImage &Picture() const { return m_picture; }
    void setPicture(const QImage &picture) override;
    bool Stretch = false;
    void setToolTipText(const QString &text) { setToolTip(text); }
    QString ToolTipText() const { return toolTip(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};

// Label: transparent text, clipped to its box, no word wrap.
class Label final : public QLabel, public ControlBase
{
    Q_OBJECT
public:
    explicit Label(QWidget *parent, const QString &name);

    void place(int left, int top, int width, int height) override;
    QString Caption() const { return text(); }
    void setCaption(const QString &caption) { setText(caption); }
    QColor ForeColor() const { return m_foreColor; }
    void setForeColor(const QColor &color);

    ClickHandler Click;

protected:
    // A label keeps every press and release over it, whatever the button: none reaches the
    // control below, and only a left click counts as a click.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QColor m_foreColor = Qt::black;
};

// What a menu entry is: a command, a separator line, a submenu header (or a menu of its own at
// the top), or a control array whose entries are loaded at run time.
enum class MenuKind { Entry, Separator, Submenu, Array };

// A menu entry: caption, check mark, enabled and visible flags, a tag, a click handler and, for
// a submenu header, its entries. The tree is turned into a pop-up menu when it is shown.
class MenuEntry final : public ControlBase
{
public:
    explicit MenuEntry(QString name, QString caption = {}, MenuKind kind = MenuKind::Entry)
        : Name(std::move(name)), Caption(std::move(caption)), Kind(kind)
    { }

    QString Name;
    QString Caption;
    MenuKind Kind;
    bool Checked = false;
    bool Enabled = true;
    bool Visible = true;
    // The access key: the first letter of the first occurrence of this text in the caption.
    // The caption itself stays as it is; only the pop-up menu marks the letter.
    QString AccessKey;
    // Shown as the entry's tool tip while it is disabled, to say why.
    QString DisabledToolTip;
    ClickHandler Click;
    std::vector<MenuEntry *> Children;
};

// A menu control array: entry 0 always exists; further entries are loaded and unloaded at run
// time. Its entries belong to the submenu header given at construction.
class MenuArray
{
public:
    MenuArray(MenuEntry *header, const QString &name, const QString &caption0);

    int Count() const { return static_cast<int>(m_entries.size()); }
    // Entry i, or nullptr when it does not exist.
    MenuEntry *at(int index) const;
    MenuEntry *operator()(int index) const { return at(index); }
    // Creates entry index when it is the next free index; returns it (or the existing entry).
    MenuEntry *Load(int index);
    // Removes the last entry; entry 0 never goes.
    void UnloadLast();
    std::function<void(int Index)> Click;
    const QString &Name() const { return m_name; }

private:
    MenuEntry *m_header;
    QString m_name;
    std::vector<std::unique_ptr<MenuEntry>> m_entries;
};

// The menus of a form by name: menus of their own (shown as pop-ups), their submenus, entries,
// separators and control arrays. Each is added after its parent, in the order it is shown.
class MenuTree
{
public:
    // Adds an entry under the entry named parent; an empty parent makes a menu of its own.
    MenuEntry &add(MenuKind kind, const QString &name, const QString &caption,
                   const QString &parent);
    // Adds a control array under parent whose entry 0 carries caption.
    MenuArray &addArray(const QString &name, const QString &caption, const QString &parent);

    // The entry of that name, the entries of arrays included ("mnuDevices(1)"), or nullptr.
    MenuEntry *find(QStringView name) const;
    // The entry or array of a name the form gave it; a misspelt name is a programming error.
    MenuEntry &operator[](QStringView name) const;
    MenuArray &array(QStringView name) const;

private:
    std::vector<std::unique_ptr<MenuEntry>> m_entries;
    std::vector<std::unique_ptr<MenuArray>> m_arrays;
    // What a misspelt name gets outside debug builds: changes to it show nowhere.
    mutable MenuEntry m_unknown {QString()};
    mutable std::unique_ptr<MenuArray> m_unknownArray;
};

// The caption as a pop-up menu shows it, with an ampersand before the access key: "&&" stays a
// literal ampersand, and a caption that already has an access key keeps it.
QString menuText(const QString &caption, const QString &accessKey);

// Shows the entries of header as a pop-up menu at the mouse position and runs the chosen entry's
// click handler after the menu has closed.
void PopupMenu(QWidget *owner, const MenuEntry &header);

} // namespace vb
