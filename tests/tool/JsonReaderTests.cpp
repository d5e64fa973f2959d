#include "JsonReader.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

// A path into a document: member names, or "#N" for the Nth array element.
JsonValue At(const JsonDocument& ADoc, const QStringList& APath) {
    JsonValue v = ADoc.root();
    for (const QString& step : APath)
        v = step.startsWith('#') ? v.at(step.mid(1).toInt()) : v.member(step.toUtf8().constData());
    return v;
}

struct Case {
    const char* json;
    QStringList path;
    bool valid;   // the document parses
    bool present; // the value at path exists
    const char* text;
};

} // namespace

TEST(JsonReader, RulesOfReading) {
    const Case cases[] = {
        // The first of repeated keys counts, at any depth.
        {R"({"a":"first","a":"second"})", {"a"}, true, true, "first"},
        {R"({"o":{"k":1,"k":2}})", {"o", "k"}, true, true, "1"},
        {R"({"o":{"x":0},"o":{"k":"later"}})", {"o", "k"}, true, false, ""},
        // A number reads as its literal text, never rounded through a double.
        {R"({"n":1.50e3})", {"n"}, true, true, "1.50e3"},
        {R"({"n":9223372036854775807})", {"n"}, true, true, "9223372036854775807"},
        {R"({"n":-0.0})", {"n"}, true, true, "-0.0"},
        // Strings: escapes decoded; other kinds of value have no text.
        {R"({"s":"\u00e9t\u00e9 \"q\""})", {"s"}, true, true, "\xC3\xA9t\xC3\xA9 \"q\""},
        {R"({"b":true,"z":null})", {"b"}, true, true, ""},
        {R"({"o":{}})", {"o"}, true, true, ""},
        // Keys match exactly, case included; lookups into the wrong kind are absent.
        {R"({"Key":"x"})", {"key"}, true, false, ""},
        {R"({"s":"x"})", {"s", "t"}, true, false, ""},
        {R"({"a":[1,2]})", {"a", "x"}, true, false, ""},
        // Nesting: arrays and objects inside each other.
        {R"({"a":[{"b":[10,{"c":"deep"}]}]})", {"a", "#0", "b", "#1", "c"}, true, true, "deep"},
        {R"([[["x"]]])", {"#0", "#0", "#0"}, true, true, "x"},
        {R"({"a":[1]})", {"a", "#1"}, true, false, ""},
        {R"({"a":[1]})", {"a", "#-1"}, true, false, ""},
        // Malformed input: nothing is read, nothing throws.
        {"", {}, false, false, ""},
        {R"({"a":1)", {"a"}, false, false, ""},
        {R"({"a":1} trailing)", {"a"}, false, false, ""},
        {R"({a:1})", {"a"}, false, false, ""},
        {R"({"a":TRUE})", {"a"}, false, false, ""},
        {R"({"a":01})", {"a"}, false, false, ""},
        {"<html>502</html>", {}, false, false, ""},
    };
    for (const Case& c : cases) {
        const JsonDocument doc(QByteArray(c.json));
        const JsonValue v = At(doc, c.path);
        EXPECT_EQ(doc.isValid(), c.valid) << c.json;
        EXPECT_EQ(v.isPresent(), c.present) << c.json;
        EXPECT_EQ(v.text(), QString::fromUtf8(c.text)) << c.json;
    }
}

TEST(JsonReader, KindsNumbersAndMemberOrder) {
    const JsonDocument doc(R"({"i":31,"s":"48000","f":1.5,"big":99999999999,"t":true,"f0":false,
                              "d":{"default":1,"dub":0,"forced":1,"default":0}})");
    const JsonValue root = doc.root();
    EXPECT_TRUE(root.isObject());
    EXPECT_EQ(root.member("i").toInt(), 31);
    EXPECT_EQ(root.member("s").toInt(), 48000);
    EXPECT_EQ(root.member("f").toInt(-1), -1);   // not a whole number
    EXPECT_EQ(root.member("big").toInt(-1), -1); // out of int's range
    EXPECT_EQ(root.member("none").toInt(7), 7);
    EXPECT_TRUE(root.member("t").isTrue());
    EXPECT_TRUE(root.member("f0").isFalse());
    EXPECT_FALSE(root.member("t").hasText());
    QStringList seen;
    root.member("d").forEachMember(
        [&](const QString& AKey, const JsonValue& AValue) { seen << AKey + '=' + AValue.text(); });
    EXPECT_EQ(seen, QStringList({"default=1", "dub=0", "forced=1", "default=0"}));
}

TEST(JsonReader, DeepNestingCostsNoStack) {
    EXPECT_FALSE(JsonDocument(QByteArray(1000000, '[')).isValid());
    const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
    const JsonDocument doc(deep);
    EXPECT_TRUE(doc.isValid());
    EXPECT_EQ(doc.root().size(), 1);
}
