// The interface XML is what parents code against; the adaptor dispatches from the member table.

#include "automation/dbus/Contract.h"
#include "automation/dbus/BusNames.h"
#include "automation/dbus/MemberTable.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
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

TEST(BusContract, InterfacesMatchTheMemberAndEventTablesBothWays)
{
    const XmlContract contract = parse(shippedXml());
    ASSERT_EQ(contract.interfaces.size(), 3);
    const auto &object = contract.interfaces.value(q(bus::kObjectInterface));
    EXPECT_EQ(object.size(), qsizetype(bus::kMembers.size()));
    const QString access[] = {"", "read", "write", "readwrite"}; // by bus::Access
    for (const bus::Member &m : bus::kMembers) {
        SCOPED_TRACE(std::string(m.name));
        const bool method = m.kind == bus::MemberKind::Method;
        const QString key = (method ? "method:" : "property:") + q(m.name);
        ASSERT_TRUE(object.contains(key));
        const XmlMember &x = object.value(key);
        EXPECT_EQ(x.in, q(m.inSignature));
        EXPECT_EQ(x.out, q(m.outSignature));
        EXPECT_EQ(x.access, access[int(m.access)]);
        EXPECT_EQ(x.dispId,
                  m.dispId ? QStringLiteral("0x%1").arg(m.dispId, 8, 16, QChar('0')) : "");
    }

    const auto &sink = contract.interfaces.value(q(bus::kSinkInterface));
    EXPECT_EQ(sink.size(), qsizetype(bus::kSinkEvents.size()));
    for (const bus::SinkEvent &e : bus::kSinkEvents) {
        SCOPED_TRACE(std::string(e.name));
        const QString key = "method:" + q(e.name);
        ASSERT_TRUE(sink.contains(key));
        EXPECT_EQ(sink.value(key).in, q(e.inSignature));
        EXPECT_EQ(sink.value(key).out, q(e.outSignature));
        EXPECT_EQ(sink.value(key).dispId, QString::number(e.dispId));
    }

    const auto &factory = contract.interfaces.value(q(bus::kFactoryInterface));
    EXPECT_EQ(factory.value("method:CreateInstance").out, "o");
    EXPECT_EQ(factory.value("method:Release").in, "o");
    EXPECT_EQ(contract.nodeAnnotations.value("com.zedazido.VEDerEve.Library"), "VEDerEve");
    EXPECT_EQ(contract.nodeAnnotations.value("com.zedazido.VEDerEve.Description"),
              "Zedazido Webcam component");
}

// Folding get/put pairs into properties must keep all 27 automation slots reachable.
TEST(BusContract, PropertiesAndMethodsCoverTheTwentySevenSlots)
{
    int slots = 0;
    for (const bus::Member &m : bus::kMembers) {
        if (m.id != bus::MemberId::Advise)
            slots += m.kind == bus::MemberKind::Method
                ? 1
                : int(bus::canRead(m.access)) + int(bus::canWrite(m.access));
    }
    EXPECT_EQ(slots, 27);
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
