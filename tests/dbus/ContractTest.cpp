// The interface XML is what parents code against; the adaptor dispatches from the member table.
// These tests hold the two together.

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
    QString kind; // "method" or "property"
    QString in; // method in-signature, or property type
    QString out;
    QString access;
    QString dispId;
};

struct XmlContract
{
    QMap<QString, QString> nodeAnnotations;
    // interface -> member name (kind-qualified) -> member
    QMap<QString, QMap<QString, XmlMember>> interfaces;
};

XmlContract parse(const QString &xml)
{
    XmlContract contract;
    QXmlStreamReader reader(xml);
    QString interface;
    QString key;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            if (reader.name() == QLatin1StringView("interface"))
                interface.clear();
            else if (reader.name() == QLatin1StringView("method")
                     || reader.name() == QLatin1StringView("property"))
                key.clear();
            continue;
        }
        if (!reader.isStartElement())
            continue;
        const auto attrs = reader.attributes();
        const QString name = attrs.value(QLatin1StringView("name")).toString();
        if (reader.name() == QLatin1StringView("interface")) {
            interface = name;
            contract.interfaces[interface];
        } else if (reader.name() == QLatin1StringView("method")
                   || reader.name() == QLatin1StringView("property")) {
            key = reader.name().toString() + QLatin1Char(':') + name;
            XmlMember &m = contract.interfaces[interface][key];
            m.kind = reader.name().toString();
            m.in = attrs.value(QLatin1StringView("type")).toString();
            m.access = attrs.value(QLatin1StringView("access")).toString();
        } else if (reader.name() == QLatin1StringView("arg") && !key.isEmpty()) {
            XmlMember &m = contract.interfaces[interface][key];
            const QString type = attrs.value(QLatin1StringView("type")).toString();
            if (attrs.value(QLatin1StringView("direction")) == QLatin1StringView("out"))
                m.out += type;
            else
                m.in += type;
        } else if (reader.name() == QLatin1StringView("annotation")) {
            const QString value = attrs.value(QLatin1StringView("value")).toString();
            if (!key.isEmpty())
                contract.interfaces[interface][key].dispId = value;
            else if (interface.isEmpty())
                contract.nodeAnnotations[name] = value;
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

QString hexDispId(std::uint32_t id)
{
    return QStringLiteral("0x%1").arg(id, 8, 16, QLatin1Char('0'));
}

QString accessText(bus::Access a)
{
    switch (a) {
    case bus::Access::Read:
        return QStringLiteral("read");
    case bus::Access::Write:
        return QStringLiteral("write");
    case bus::Access::ReadWrite:
        return QStringLiteral("readwrite");
    case bus::Access::None:
        break;
    }
    return {};
}

} // namespace

TEST(BusContract, ObjectInterfaceMatchesMemberTableBothWays)
{
    const XmlContract contract = parse(shippedXml());
    const auto &object = contract.interfaces.value(QLatin1StringView(bus::kObjectInterface));
    ASSERT_FALSE(object.isEmpty());
    EXPECT_EQ(object.size(), qsizetype(bus::kMembers.size()));

    for (const bus::Member &m : bus::kMembers) {
        SCOPED_TRACE(std::string(m.name));
        const bool method = m.kind == bus::MemberKind::Method;
        const QString key
            = (method ? QStringLiteral("method:") : QStringLiteral("property:")) + q(m.name);
        ASSERT_TRUE(object.contains(key));
        const XmlMember &x = object.value(key);
        EXPECT_EQ(x.in, q(m.inSignature));
        EXPECT_EQ(x.out, q(m.outSignature));
        EXPECT_EQ(x.access, accessText(m.access));
        EXPECT_EQ(x.dispId, m.dispId ? hexDispId(m.dispId) : QString());
    }
}

TEST(BusContract, SinkInterfaceMatchesEventTable)
{
    const XmlContract contract = parse(shippedXml());
    const auto &sink = contract.interfaces.value(QLatin1StringView(bus::kSinkInterface));
    EXPECT_EQ(sink.size(), qsizetype(bus::kSinkEvents.size()));
    for (const bus::SinkEvent &e : bus::kSinkEvents) {
        SCOPED_TRACE(std::string(e.name));
        const XmlMember x = sink.value(QStringLiteral("method:") + q(e.name));
        EXPECT_EQ(x.kind, QStringLiteral("method"));
        EXPECT_EQ(x.in, q(e.inSignature));
        EXPECT_EQ(x.out, q(e.outSignature));
        EXPECT_EQ(x.dispId, QString::number(e.dispId));
    }
}

TEST(BusContract, FactoryAndLibraryDescription)
{
    const XmlContract contract = parse(shippedXml());
    EXPECT_EQ(contract.interfaces.size(), 3);
    const auto &factory = contract.interfaces.value(QLatin1StringView(bus::kFactoryInterface));
    EXPECT_EQ(factory.value(QStringLiteral("method:CreateInstance")).out, QStringLiteral("o"));
    EXPECT_EQ(factory.value(QStringLiteral("method:Release")).in, QStringLiteral("o"));
    EXPECT_EQ(contract.nodeAnnotations.value(QStringLiteral("com.zedazido.VEDerEve.Library")),
              QStringLiteral("VEDerEve"));
    EXPECT_EQ(contract.nodeAnnotations.value(QStringLiteral("com.zedazido.VEDerEve.Description")),
              QStringLiteral("Zedazido Webcam component"));
}

// Folding get/put pairs into properties must keep all 27 automation slots reachable.
TEST(BusContract, PropertiesAndMethodsCoverTheTwentySevenSlots)
{
    int slots = 0;
    for (const bus::Member &m : bus::kMembers) {
        if (m.id == bus::MemberId::Advise)
            continue;
        if (m.kind == bus::MemberKind::Method)
            ++slots;
        else
            slots += int(bus::canRead(m.access)) + int(bus::canWrite(m.access));
    }
    EXPECT_EQ(slots, 27);
}

TEST(BusContract, CompiledInContractIsTheShippedFileAndInterfacesAreFound)
{
    EXPECT_EQ(bus::contractXml(), shippedXml());
    for (const char *name : {bus::kFactoryInterface, bus::kObjectInterface, bus::kSinkInterface}) {
        SCOPED_TRACE(name);
        const QString element = bus::contractInterface(QString::fromLatin1(name));
        // Exactly one interface element, usable as introspection data on its own.
        const XmlContract one
            = parse(QStringLiteral("<node>") + element + QStringLiteral("</node>"));
        EXPECT_EQ(one.interfaces.keys(), QStringList {QString::fromLatin1(name)});
    }
    // The object's element ends at its own closing tag, before the sink's interface.
    EXPECT_FALSE(bus::contractInterface(QString::fromLatin1(bus::kObjectInterface))
                     .contains(QStringLiteral("MinMaxResize")));
    EXPECT_TRUE(bus::contractInterface(u"com.zedazido.VEDerEve.Nothing").isEmpty());
}
