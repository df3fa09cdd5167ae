// Generates the C++ views of the component's bus interfaces from the interface XML, so that the
// XML stays the one place a member or an event is declared, and checks the protocol page
// against it:
//
//   vedereve-busgen members <xml> <out.h>      the adaptor's member table, bound to zozEZUdeZid
//   vedereve-busgen proxy <xml> <out.h>        the typed proxy base of the client library
//   vedereve-busgen events <xml> <Name.h> [<export.h> <MACRO>]
//                                             class Name: one Qt signal per event; in a shared
//                                             library, exported with MACRO from export.h
//   vedereve-busgen check-page <xml> <page.md> the page's member and event tables match the XML
//
// Naming rule between the XML and the C++ object: a method calls the member of the same name; a
// property reads through Name() and writes through setName(value). Members without a dispatch id
// (Advise) belong to the bus layer: the member table lists them without an invoker, the proxy
// leaves them out.
//
// Events: an in argument that comes back as an out argument of the same name is in-out. Its
// signal parameter is a non-const reference, so that a handler's change reaches the raiser; that
// reference type is how the relays on both sides of the bus tell which array the reply replaces.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QXmlStreamReader>

#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr auto kObjectInterface = u"com.zedazido.VEDerEve._zozEZUdeZid";
constexpr auto kSinkInterface = u"com.zedazido.VEDerEve.__zozEZUdeZid";
constexpr auto kDispIdAnnotation = u"com.zedazido.VEDerEve.DispId";

struct Arg
{
    QString name;
    QString type;
};

struct Member
{
    bool isProperty = false;
    QString name;
    QString dispId;
    QString access; // properties: read, write, readwrite
    QString type; // properties
    std::vector<Arg> in;
    std::vector<Arg> out;
};

struct BusType
{
    const char *signature;
    const char *cppType; // by value
    const char *cppParameter; // as a parameter
};

constexpr BusType kTypes[] = {
    {"b", "bool", "bool"},
    {"i", "std::int32_t", "std::int32_t"},
    {"s", "QString", "const QString &"},
    {"ay", "QByteArray", "const QByteArray &"},
};

std::optional<BusType> busType(const QString &signature)
{
    for (const BusType &t : kTypes) {
        if (signature == QLatin1StringView(t.signature))
            return t;
    }
    return std::nullopt;
}

// "type name", without a blank after a reference's &.
QString parameter(const QString &type, const QString &name)
{
    return type.endsWith(u'&') ? type + name : type + u' ' + name;
}

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "vedereve-busgen: %s\n", qPrintable(message));
    std::exit(1);
}

// The methods and properties of one interface, in the order of the XML.
std::vector<Member> readInterface(const QString &path, QStringView interfaceName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(path));
    QXmlStreamReader xml(&file);
    std::vector<Member> members;
    bool inInterface = false;
    Member *current = nullptr;
    while (!xml.atEnd()) {
        xml.readNext();
        const QStringView element = xml.name();
        const auto attr = [&](const char *name) {
            return xml.attributes().value(QLatin1StringView(name)).toString();
        };
        if (xml.isEndElement()) {
            if (element == u"interface")
                inInterface = false;
            else if (element == u"method" || element == u"property")
                current = nullptr;
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (element == u"interface") {
            inInterface = attr("name") == interfaceName;
        } else if (inInterface && (element == u"method" || element == u"property")) {
            members.push_back(
                {element == u"property", attr("name"), {}, attr("access"), attr("type"), {}, {}});
            current = &members.back();
        } else if (current && element == u"arg") {
            (attr("direction") == u"out" ? current->out : current->in)
                .push_back({attr("name"), attr("type")});
        } else if (current && element == u"annotation" && attr("name") == kDispIdAnnotation) {
            current->dispId = attr("value");
        }
    }
    if (xml.hasError())
        fail(QStringLiteral("%1: %2").arg(path, xml.errorString()));
    if (members.empty())
        fail(QStringLiteral("%1 declares nothing in %2").arg(path, interfaceName));
    return members;
}

std::vector<Member> readMembers(const QString &path)
{
    std::vector<Member> members = readInterface(path, kObjectInterface);
    for (const Member &m : members) {
        if (m.dispId.isEmpty())
            continue; // the bus layer's own member, typed as the bus layer needs
        if (m.isProperty && !busType(m.type))
            fail(QStringLiteral("property %1 has type %2, which automation cannot carry")
                     .arg(m.name, m.type));
        for (const Arg &a : m.in) {
            if (!busType(a.type))
                fail(QStringLiteral("%1 takes a %2").arg(m.name, a.type));
        }
        if (m.out.size() > 1 || (m.out.size() == 1 && !busType(m.out.front().type)))
            fail(QStringLiteral("%1 must return at most one value").arg(m.name));
    }
    return members;
}

// The argument that comes back in the reply, or nullptr.
const Arg *inOutOf(const Member &event)
{
    if (event.out.empty())
        return nullptr;
    for (const Arg &a : event.in) {
        if (a.name == event.out.front().name)
            return &a;
    }
    return nullptr;
}

std::vector<Member> readEvents(const QString &path)
{
    std::vector<Member> events = readInterface(path, kSinkInterface);
    for (const Member &e : events) {
        if (e.isProperty)
            fail(QStringLiteral("event %1 is a property").arg(e.name));
        for (const Arg &a : e.in) {
            if (!busType(a.type))
                fail(QStringLiteral("event %1 carries a %2").arg(e.name, a.type));
        }
        // The reply can hand back one byte array that the raiser passed in; nothing else.
        const Arg *inOut = inOutOf(e);
        if (e.out.size() > 1 || (!e.out.empty() && (!inOut || inOut->type != u"ay")))
            fail(QStringLiteral("event %1 may return only one of its own byte arrays").arg(e.name));
    }
    return events;
}

QString signatureOf(const std::vector<Arg> &args)
{
    QString s;
    for (const Arg &a : args)
        s += a.type;
    return s;
}

QString accessOf(const Member &m)
{
    if (!m.isProperty)
        return QStringLiteral("Access::None");
    if (m.access == u"read")
        return QStringLiteral("Access::Read");
    if (m.access == u"write")
        return QStringLiteral("Access::Write");
    if (m.access == u"readwrite")
        return QStringLiteral("Access::ReadWrite");
    fail(QStringLiteral("property %1 has access %2").arg(m.name, m.access));
}

QString setterOf(const QString &name)
{
    return QStringLiteral("set") + name;
}

const char *kBanner = "// Generated by vedereve-busgen from the interface XML. Do not edit: change "
                      "the XML and the object.\n";

void writeMembers(const std::vector<Member> &members, QTextStream &out)
{
    out << kBanner << "#pragma once\n\n"
        << "#include \"automation/dbus/Member.h\"\n"
        << "#include \"automation/zozEZUdeZid.h\"\n\n"
        << "#include <array>\n\n"
        << "namespace bus {\n\n"
        << "inline const std::array<Member, " << members.size() << "> kMembers = {{\n";
    for (const Member &m : members) {
        const QString kind = m.isProperty ? QStringLiteral("MemberKind::Property")
                                          : QStringLiteral("MemberKind::Method");
        const QString in = m.isProperty ? m.type : signatureOf(m.in);
        const QString outSig = m.isProperty ? QString() : signatureOf(m.out);
        const bool automation = !m.dispId.isEmpty();
        out << "    {\"" << m.name << "\", " << kind << ", \"" << in << "\", \"" << outSig << "\", "
            << accessOf(m) << ", " << (automation ? m.dispId : QStringLiteral("0")) << "u,\n";
        // Getter.
        if (m.isProperty && m.access != u"write")
            out << "     [](zozEZUdeZid &o) -> QVariant { return QVariant::fromValue(o." << m.name
                << "()); },\n";
        else
            out << "     nullptr,\n";
        // Setter.
        if (m.isProperty && m.access != u"read")
            out << "     [](zozEZUdeZid &o, const QVariant &v) { o." << setterOf(m.name)
                << "(v.value<" << busType(m.type)->cppType << ">()); },\n";
        else
            out << "     nullptr,\n";
        // Invoker: the arguments are in the order of the XML, which the adaptor has checked
        // against the call's signature.
        if (!m.isProperty && automation) {
            QStringList args;
            for (std::size_t i = 0; i < m.in.size(); ++i)
                args << QStringLiteral("a.at(%1).value<%2>()")
                            .arg(i)
                            .arg(QLatin1StringView(busType(m.in[i].type)->cppType));
            const QString call = QStringLiteral("o.%1(%2)").arg(m.name, args.join(u", "));
            out << "     [](zozEZUdeZid &o, [[maybe_unused]] const QVariantList &a) -> QVariant { ";
            if (m.out.empty())
                out << call << "; return {}; }},\n";
            else
                out << "return QVariant::fromValue(" << call << "); }},\n";
        } else {
            out << "     nullptr},\n";
        }
    }
    out << "}};\n\n} // namespace bus\n";
}

void writeProxy(const std::vector<Member> &members, QTextStream &out)
{
    out << kBanner << "#pragma once\n\n"
        << "#include <QByteArray>\n#include <QString>\n#include <QVariant>\n\n#include "
           "<cstdint>\n\n"
        << "// The automation members, letter for letter, over a transport that the client\n"
        << "// supplies: invokeMember (a method without result; whether it was answered),\n"
        << "// callMember (a method's result), readProperty and writeProperty. A call that could\n"
        << "// not be made gives 0 or false.\n"
        << "template<class Transport> class zozEZUdeZidProxy\n{\npublic:\n";
    for (const Member &m : members) {
        if (m.dispId.isEmpty())
            continue;
        if (m.isProperty) {
            const BusType t = *busType(m.type);
            if (m.access != u"write")
                out << "    " << t.cppType << " " << m.name << "()\n    {\n"
                    << "        return transport().readProperty(\"" << m.name
                    << "\").template value<" << t.cppType << ">();\n    }\n";
            if (m.access != u"read")
                out << "    bool " << setterOf(m.name) << "(" << t.cppParameter << " value)\n"
                    << "    {\n        return transport().writeProperty(\"" << m.name
                    << "\", QVariant::fromValue(value));\n    }\n";
            continue;
        }
        QStringList parameters;
        QStringList values;
        for (const Arg &a : m.in) {
            parameters << parameter(QString::fromLatin1(busType(a.type)->cppParameter), a.name);
            values << QStringLiteral("QVariant::fromValue(%1)").arg(a.name);
        }
        if (m.out.empty()) {
            out << "    bool " << m.name << "(" << parameters.join(u", ") << ")\n    {\n"
                << "        return transport().invokeMember(\"" << m.name << "\", {"
                << values.join(u", ") << "});\n    }\n";
        } else {
            const BusType t = *busType(m.out.front().type);
            out << "    " << t.cppType << " " << m.name << "(" << parameters.join(u", ")
                << ")\n    {\n        return transport().callMember(\"" << m.name << "\", {"
                << values.join(u", ") << "}).template value<" << t.cppType << ">();\n    }\n";
        }
    }
    out << "\nprivate:\n    Transport &transport() { return static_cast<Transport &>(*this); "
           "}\n};\n";
}

// The class is named after the header, so that the panel's events (WebCamEvents.h) and the
// client's (VEDerEveEvents.h) come from the same rows without meeting in one program.
void writeEvents(const std::vector<Member> &events, const QString &className,
                 const QStringList &exportWith, QTextStream &out)
{
    out << kBanner << "#pragma once\n\n";
    if (!exportWith.isEmpty())
        out << "#include \"" << exportWith[0] << "\"\n\n";
    out << "#include <QByteArray>\n#include <QObject>\n#include <QString>\n\n#include <cstdint>\n\n"
        << "// The component's events, one signal each. Connect directly: every event runs its\n"
        << "// handlers before the raiser goes on, and a byte array passed by non-const reference\n"
        << "// is in-out: what the handlers leave in it is what the raiser sees afterwards.\n"
        << "class " << (exportWith.isEmpty() ? QString() : exportWith[1] + u' ') << className
        << " : public QObject\n{\n    Q_OBJECT\npublic:\n"
        << "    using QObject::QObject;\n\n"
        << "    // Calls visit(name, signal) for every event, in the order of the interface XML.\n"
        << "    template<class Visit> static void forEachEvent(Visit &&visit)\n    {\n";
    for (const Member &e : events)
        out << "        visit(\"" << e.name << "\", &" << className << "::" << e.name << ");\n";
    out << "    }\n\nQ_SIGNALS:\n";
    for (const Member &e : events) {
        const Arg *inOut = inOutOf(e);
        QStringList parameters;
        for (const Arg &a : e.in)
            parameters << parameter(&a == inOut
                                        ? QStringLiteral("QByteArray &")
                                        : QString::fromLatin1(busType(a.type)->cppParameter),
                                    a.name);
        out << "    void " << e.name << "(" << parameters.join(u", ") << ");\n";
    }
    out << "};\n";
}

// The page's tables, row by row as "name | kind | signature | dispatch id" (members) and
// "name | call | reply | dispatch id" (events); the prose after a cell's first code span is free.
QString codeSpanOf(const QString &cell)
{
    const qsizetype open = cell.indexOf(u'`');
    const qsizetype close = open < 0 ? -1 : cell.indexOf(u'`', open + 1);
    return close < 0 ? cell.trimmed() : cell.mid(open + 1, close - open - 1);
}

QStringList pageRows(const QString &page, QStringView header, bool kindColumn)
{
    QStringList rows;
    const QStringList lines = page.split(u'\n');
    qsizetype i = 0;
    while (i < lines.size() && !lines[i].startsWith(header))
        ++i;
    for (i += 2; i < lines.size() && lines[i].startsWith(u'|'); ++i) {
        const QStringList cells = lines[i].split(u'|');
        if (cells.size() < 6)
            fail(QStringLiteral("page: a row with fewer than four cells: %1").arg(lines[i]));
        rows << QStringList {codeSpanOf(cells[1]),
                             kindColumn ? cells[2].trimmed() : codeSpanOf(cells[2]),
                             codeSpanOf(cells[3]), cells[4].trimmed()}
                    .join(u" | ");
    }
    if (rows.isEmpty())
        fail(QStringLiteral("page: no table under the header \"%1\"").arg(header));
    return rows;
}

QString callOf(const std::vector<Arg> &args)
{
    QStringList typed;
    for (const Arg &a : args)
        typed << a.type + u' ' + a.name;
    return u'(' + typed.join(u", ") + u')';
}

QString dispIdCell(const Member &m)
{
    return m.dispId.isEmpty() ? QStringLiteral("—") : m.dispId;
}

QStringList memberRows(const std::vector<Member> &members)
{
    QStringList rows;
    for (const Member &m : members) {
        QString kind = QStringLiteral("method");
        QString signature = m.type;
        if (m.isProperty) {
            kind = m.access == u"read" ? QStringLiteral("property, read-only")
                : m.access == u"write" ? QStringLiteral("property, write-only")
                                       : QStringLiteral("property, read/write");
        } else {
            signature = callOf(m.in);
            if (!m.out.empty())
                signature += QStringLiteral(" -> ") + signatureOf(m.out);
        }
        rows << QStringList {m.name, kind, signature, dispIdCell(m)}.join(u" | ");
    }
    return rows;
}

QStringList eventRows(const std::vector<Member> &events)
{
    QStringList rows;
    for (const Member &e : events)
        rows << QStringList {e.name, callOf(e.in), callOf(e.out), dispIdCell(e)}.join(u" | ");
    return rows;
}

// Lists every row that differs; true when none does.
bool compareRows(const char *table, const QStringList &page, const QStringList &xml)
{
    bool same = page.size() == xml.size();
    for (qsizetype i = 0; i < std::max(page.size(), xml.size()); ++i) {
        if (page.value(i) == xml.value(i))
            continue;
        same = false;
        std::fprintf(stderr, "%s table, row %lld:\n  page: %s\n  XML:  %s\n", table,
                     static_cast<long long>(i + 1), qPrintable(page.value(i)),
                     qPrintable(xml.value(i)));
    }
    return same;
}

int checkPage(const QString &xmlPath, const QString &pagePath)
{
    QFile file(pagePath);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(pagePath));
    const QString page = QString::fromUtf8(file.readAll());
    const bool members = compareRows("member", pageRows(page, u"| Member |", true),
                                     memberRows(readMembers(xmlPath)));
    const bool events = compareRows("event", pageRows(page, u"| Method (event) |", false),
                                    eventRows(readEvents(xmlPath)));
    return members && events ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QStringList modes = {"members", "proxy", "events", "check-page"};
    const bool exported = args.size() == 6 && args[1] == u"events";
    if ((args.size() != 4 && !exported) || !modes.contains(args[1]))
        fail(QStringLiteral("usage: vedereve-busgen members|proxy|events|check-page <xml> <file> "
                            "(events: [<export.h> <MACRO>])"));
    if (args[1] == u"check-page")
        return checkPage(args[2], args[3]);
    QString text;
    QTextStream out(&text);
    if (args[1] == u"members")
        writeMembers(readMembers(args[2]), out);
    else if (args[1] == u"proxy")
        writeProxy(readMembers(args[2]), out);
    else
        writeEvents(readEvents(args[2]), QFileInfo(args[3]).completeBaseName(), args.mid(4), out);
    out.flush();
    // Written only when it changes, so that a rebuild does not recompile everything after every
    // touch of the XML's comments.
    QFile old(args[3]);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == text.toUtf8())
        return 0;
    QSaveFile file(args[3]);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        fail(QStringLiteral("cannot write %1").arg(args[3]));
    file.write(text.toUtf8());
    return file.commit() ? 0 : 1;
}
