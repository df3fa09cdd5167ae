// The interface XML is what parents code against; the adaptor dispatches from the member table.

#include "automation/dbus/Contract.h"
#include "automation/dbus/BusNames.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QSet>
#include <QXmlStreamReader>

#include <string>

namespace {

struct XmlMember
{
    QString in; // method in-signature, or property type
    QString out, access, dispId;
};

struct XmlContract
{
    QMap<QString, QString> nodeAnnotations;
    // interface -> "method:Name" or "property:Name" -> member
    QMap<QString, QMap<QString, XmlMember>> interfaces;
};

XmlContract parse(const QString &xml)
{
    XmlContract contract;
    QXmlStreamReader reader(xml);
    QString interface, key;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString element = reader.name().toString();
        const bool member = element == u"method" || element == u"property";
        if (reader.isEndElement() && (member || element == u"interface")) {
            key.clear();
            interface = element == u"interface" ? QString() : interface;
        }
        if (!reader.isStartElement())
            continue;
        const auto attr = [&](const char *name) {
            return reader.attributes().value(QLatin1StringView(name)).toString();
        };
        if (element == u"interface") {
            interface = attr("name");
            contract.interfaces[interface];
        } else if (member) {
            key = element + u':' + attr("name");
            contract.interfaces[interface][key] = {attr("type"), {}, attr("access"), {}};
        } else if (element == u"arg" && !key.isEmpty()) {
            XmlMember &m = contract.interfaces[interface][key];
            (attr("direction") == u"out" ? m.out : m.in) += attr("type");
        } else if (element == u"annotation" && !key.isEmpty()) {
            contract.interfaces[interface][key].dispId = attr("value");
        } else if (element == u"annotation" && interface.isEmpty()) {
            contract.nodeAnnotations[attr("name")] = attr("value");
        }
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

QString q(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

} // namespace

TEST(BusContract, ObjectCarriesTheTwentySevenSlotsWithTheirDispatchIds)
{
    const XmlContract contract = parse(shippedXml());
    ASSERT_EQ(contract.interfaces.size(), 3);
    // Get/put pairs fold into one property: each readable and each writable side is a slot.
    int slots = 0;
    QSet<QString> dispIds;
    for (const auto &[key, m] :
         contract.interfaces.value(q(bus::kObjectInterface)).asKeyValueRange()) {
        if (m.dispId.isEmpty()) {
            EXPECT_EQ(key, "method:Advise"); // the bus layer's own member
            continue;
        }
        slots += key.startsWith("method:")
            ? 1
            : int(m.access.contains("read")) + int(m.access.contains("write"));
        EXPECT_FALSE(dispIds.contains(m.dispId)) << key.toStdString();
        dispIds.insert(m.dispId);
    }
    EXPECT_EQ(slots, 27);

    const auto &sink = contract.interfaces.value(q(bus::kSinkInterface));
    EXPECT_EQ(sink.value("method:WebCamSnapShot").in, "ayi");
    EXPECT_EQ(sink.value("method:WebCamSnapShot").out, "ay");
    EXPECT_EQ(sink.value("method:WebCamClientPicture").out, "ay");
    const auto &factory = contract.interfaces.value(q(bus::kFactoryInterface));
    EXPECT_EQ(factory.value("method:CreateInstance").out, "o");
    EXPECT_EQ(factory.value("method:Release").in, "o");
    EXPECT_EQ(contract.nodeAnnotations.value("com.zedazido.VEDerEve.Library"), "VEDerEve");
    EXPECT_EQ(contract.nodeAnnotations.value("com.zedazido.VEDerEve.Description"),
              "Zedazido Webcam component");
}

TEST(BusContract, CompiledInContractIsTheShippedFileAndInterfacesAreFound)
{
    EXPECT_EQ(bus::contractXml(), shippedXml());
    for (const char *name : {bus::kFactoryInterface, bus::kObjectInterface, bus::kSinkInterface}) {
        // Exactly one interface element, usable as introspection data on its own.
        const QString element = bus::contractInterface(q(name));
        EXPECT_EQ(parse("<node>" + element + "</node>").interfaces.keys(), QStringList {q(name)});
    }
    // The object's element ends at its own closing tag, before the sink's interface.
    EXPECT_FALSE(bus::contractInterface(q(bus::kObjectInterface)).contains("MinMaxResize"));
    EXPECT_TRUE(bus::contractInterface(u"com.zedazido.VEDerEve.Nothing").isEmpty());
}
