#include "platform/capture/dialogs/DriverDialogs.h"

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/CaptureWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QVBoxLayout>

#include <map>

namespace platform::vfw {

namespace {

QString formatName(const VideoFormat &format)
{
    QString kind;
    if (format.compression == BI_RGB) {
        kind = QStringLiteral("RGB %1-bit").arg(format.bitCount);
    } else {
        for (int shift = 0; shift < 32; shift += 8)
            kind += QChar(char((format.compression >> shift) & 0xFF));
    }
    return QStringLiteral("%1, %2 x %3").arg(kind).arg(format.width).arg(format.height);
}

QWidget *ownerWindow(std::int32_t parent)
{
    QWidget *widget = parent ? QWidget::find(WId(std::uint32_t(parent))) : nullptr;
    return widget ? widget->window() : nullptr;
}

class WidgetDriverDialogs final : public DriverDialogs
{
public:
    bool showFormatDialog(CaptureDriver &driver, std::int32_t parent) override
    {
        const std::vector<VideoFormat> formats = driver.formats();
        QDialog dialog(ownerWindow(parent));
        dialog.setWindowTitle(QStringLiteral("Video Format"));
        auto *layout = new QVBoxLayout(&dialog);
        auto *list = new QListWidget(&dialog);
        list->setObjectName(QStringLiteral("formats"));
        const VideoFormat current = driver.format();
        for (const VideoFormat &format : formats) {
            list->addItem(formatName(format));
            if (format == current)
                list->setCurrentRow(list->count() - 1);
        }
        auto *buttons
            = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
        layout->addWidget(new QLabel(QStringLiteral("Size and format of the picture:"), &dialog));
        layout->addWidget(list);
        layout->addWidget(buttons);
        if (dialog.exec() == QDialog::Accepted) {
            const int row = list->currentRow();
            if (row >= 0 && std::size_t(row) < formats.size())
                driver.setFormat(formats[std::size_t(row)]);
        }
        return true;
    }

    bool showSourceDialog(CaptureDriver &driver, std::int32_t parent) override
    {
        QDialog dialog(ownerWindow(parent));
        dialog.setWindowTitle(QStringLiteral("Video Source"));
        dialog.setMinimumWidth(320);
        auto *layout = new QFormLayout(&dialog);
        std::map<std::uint32_t, std::int32_t> before;
        for (const DriverControl &control : driver.controls()) {
            const std::int32_t value = driver.control(control.id).value_or(control.defaultValue);
            before[control.id] = value;
            const std::uint32_t id = control.id;
            const QString name = QString::fromStdString(control.name);
            QWidget *editor = nullptr;
            switch (control.kind) {
            case DriverControl::Kind::Integer: {
                // The slider with its value beside it, so that a person sees where it stands.
                auto *row = new QWidget(&dialog);
                auto *rowLayout = new QHBoxLayout(row);
                rowLayout->setContentsMargins(0, 0, 0, 0);
                auto *slider = new QSlider(Qt::Horizontal, row);
                slider->setRange(control.minimum, control.maximum);
                slider->setSingleStep(control.step);
                slider->setValue(value);
                slider->setObjectName(name);
                auto *shown = new QLabel(QString::number(value), row);
                shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(
                    QString::number(std::min(control.minimum, -control.maximum))));
                shown->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                QObject::connect(slider, &QSlider::valueChanged, &dialog,
                                 [&driver, id, shown](int v) {
                                     shown->setNum(v);
                                     driver.setControl(id, v);
                                 });
                rowLayout->addWidget(slider, 1);
                rowLayout->addWidget(shown);
                layout->addRow(name, row);
                continue;
            }
            case DriverControl::Kind::Boolean: {
                auto *box = new QCheckBox(&dialog);
                box->setChecked(value != 0);
                QObject::connect(box, &QCheckBox::toggled, &dialog,
                                 [&driver, id](bool on) { driver.setControl(id, on ? 1 : 0); });
                editor = box;
                break;
            }
            case DriverControl::Kind::Menu: {
                auto *list = new QComboBox(&dialog);
                for (const DriverControl::MenuItem &item : control.items) {
                    list->addItem(QString::fromStdString(item.name), item.value);
                    if (item.value == value)
                        list->setCurrentIndex(list->count() - 1);
                }
                QObject::connect(list, &QComboBox::currentIndexChanged, &dialog,
                                 [&driver, id, list](int index) {
                                     driver.setControl(id, list->itemData(index).toInt());
                                 });
                editor = list;
                break;
            }
            }
            editor->setObjectName(name);
            layout->addRow(name, editor);
        }
        auto *buttons
            = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addRow(buttons);
        if (dialog.exec() != QDialog::Accepted) {
            for (const auto &[id, value] : before)
                driver.setControl(id, value);
        }
        return true;
    }
};

WidgetDriverDialogs &dialogs()
{
    static WidgetDriverDialogs instance;
    return instance;
}

} // namespace

void installDriverDialogs()
{
    setDriverDialogs(&dialogs());
}

void removeDriverDialogs()
{
    setDriverDialogs(nullptr);
}

} // namespace platform::vfw
