#include "automation/dbus/Contract.h"

#include "automation/dbus/ContractXml.h"

namespace bus {

QString contractXml()
{
    return QString::fromUtf8(kContractXml);
}

QString contractInterface(QStringView interfaceName)
{
    const QString xml = contractXml();
    const QString open = QStringLiteral("<interface name=\"%1\">").arg(interfaceName);
    const qsizetype begin = xml.indexOf(open);
    if (begin < 0)
        return {};
    static constexpr QStringView close = u"</interface>";
    const qsizetype end = xml.indexOf(close, begin + open.size());
    if (end < 0)
        return {};
    return xml.mid(begin, end + close.size() - begin);
}

} // namespace bus
