// The interface XML is what parents code against; the adaptor dispatches from the member table.

#include "automation/dbus/Contract.h"
#include "automation/dbus/BusNames.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QSet>
#include <QXmlStreamReader>

namespace {

// Each member of each interface as "name in>out access dispId", and the node's annotations.
struct Contract
{
    QMap<QString, QStringList> members;
    QMap<QString, QString> annotations;
};

Contract parse(const QString &xml)
{
    Contract contract;
    QXmlStreamReader reader(xml);
    QString interface;
    QStringList member; // name, in, out, access, dispId of the member being read
    while (!reader.atEnd()) {
        reader.readNext();
        const auto attr = [&](const char *name) {
            return reader.attributes().value(QLatin1StringView(name)).toString();
        };
        const QStringView element = reader.name();
        if (reader.isEndElement() && (element == u"method" || element == u"property"))
            contract.members[interface] << member.join(u' ');
        if (reader.isEndElement() && element == u"interface")
            interface.clear();
        if (!reader.isStartElement())
            continue;
        if (element == u"interface")
            contract.members[interface = attr("name")];
        else if (element == u"method" || element == u"property")
            member = {attr("name"), attr("type"), QString(), attr("access"), QString()};
        else if (element == u"arg")
            member[attr("direction") == u"out" ? 2 : 1] += attr("type");
        else if (element == u"annotation" && !interface.isEmpty())
            member[4] = attr("value");
        else if (element == u"annotation")
            contract.annotations[attr("name")] = attr("value");
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return contract;
}

QString shippedXml()
{
    QFile file(QStringLiteral(VEDEREVE_CONTRACT_PATH));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromUtf8(file.readAll());
}

} // namespace

TEST(BusContract, ShippedFileIsCompiledInAndCarriesTheTwentySevenSlotsWithTheirDispatchIds)
{
    EXPECT_EQ(bus::contractXml(), shippedXml());
    const Contract contract = parse(shippedXml());
    ASSERT_EQ(contract.members.size(), 3);
    // Get/put pairs fold into one property: each readable and each writable side is a slot.
    int slots = 0;
    QSet<QString> dispIds;
    for (const QString &member : contract.members.value(bus::kObjectInterface)) {
        const QStringList f = member.split(u' ');
        if (f[0] == u"Advise") // the bus layer's own member
            continue;
        slots += f[3].isEmpty() ? 1 : int(f[3].contains("read")) + int(f[3].contains("write"));
        EXPECT_FALSE(f[4].isEmpty() || dispIds.contains(f[4])) << member.toStdString();
        dispIds.insert(f[4]);
    }
    EXPECT_EQ(slots, 27);
    for (const char *expected : {"WebCamSnapShot ayi ay  2", "WebCamClientPicture ayiiiii ay  3"})
        EXPECT_TRUE(contract.members.value(bus::kSinkInterface).contains(expected)) << expected;
    EXPECT_EQ(contract.members.value(bus::kFactoryInterface),
              QStringList({"CreateInstance  o  ", "Release o   "}));
    EXPECT_EQ(contract.annotations.value("com.zedazido.VEDerEve.Library"), "VEDerEve");
    EXPECT_EQ(contract.annotations.value("com.zedazido.VEDerEve.Description"),
              "Zedazido Webcam component");
}

TEST(BusContract, EachInterfaceElementStandsAloneAsIntrospectionData)
{
    for (const char *name : {bus::kFactoryInterface, bus::kObjectInterface, bus::kSinkInterface}) {
        const QString element = bus::contractInterface(QString::fromLatin1(name));
        EXPECT_EQ(parse("<node>" + element + "</node>").members.keys(), QStringList {name});
    }
    // The object's element ends at its own closing tag, before the sink's interface.
    EXPECT_FALSE(bus::contractInterface(QString::fromLatin1(bus::kObjectInterface))
                     .contains("MinMaxResize"));
    EXPECT_TRUE(bus::contractInterface(u"com.zedazido.VEDerEve.Nothing").isEmpty());
}
