#include "support/PathHelpers.h"

#include <QFile>

#include "platform/core/System.h"

QString StripNulls(const QString &Buffer)
{
    const qsizetype nul = Buffer.indexOf(QChar(u'\0'));
    return nul < 0 ? Buffer : Buffer.left(nul);
}

QString FileNameOnly(const QString &Path)
{
    QString name = Path;
    for (;;) {
        qsizetype at = name.indexOf(u'/');
        if (at < 0)
            at = name.indexOf(u'\\');
        if (at < 0)
            return name;
        name = name.mid(at + 1);
    }
}

bool PictureFileUsable(const QString &path)
{
    return !path.isEmpty()
        && platform::regularFileSize(QFile::encodeName(path).toStdString()).value_or(0) > 0;
}
