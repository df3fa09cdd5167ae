#pragma once

#include <QString>
#include <QStringView>

namespace bus {

// The whole shipped interface XML.
QString contractXml();

// The <interface> element of the shipped XML with the given name, verbatim, or an empty string
// when the contract has no such interface.
QString contractInterface(QStringView interfaceName);

} // namespace bus
