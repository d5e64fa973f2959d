#pragma once

#include <QByteArray>
#include <QString>

#include <rapidjson/fwd.h>

#include <functional>
#include <memory>

namespace halvora {

// One value of a parsed document; an absent value (no such member, index out of range) reads
// as empty. Numbers are kept as their literal text, so "1.50e3" stays "1.50e3" and a 64-bit
// size never passes through a double.
class JsonValue {
public:
    JsonValue() = default;
    explicit JsonValue(const rapidjson::Value* AValue) : FValue(AValue) {}

    bool isPresent() const { return FValue != nullptr; }
    bool isObject() const;
    bool isArray() const;
    // A string or a number: both have a text.
    bool hasText() const;
    bool isTrue() const;
    bool isFalse() const;

    // The member named exactly AKey; when the key is repeated, its first occurrence.
    JsonValue member(const char* AKey) const;
    // Each member of an object in document order, repeated keys included.
    void forEachMember(const std::function<void(const QString&, const JsonValue&)>& AVisit) const;
    // Elements of an array; 0 and absent for anything else.
    int size() const;
    JsonValue at(int AIndex) const;

    // A string's content or a number's literal text; empty for anything else.
    QString text() const;
    // The text as a whole decimal number in int's range; ADefault otherwise.
    int toInt(int ADefault = 0) const;

private:
    const rapidjson::Value* FValue = nullptr;
};

// A whole document, parsed once. Nesting depth costs no stack, so hostile input can't
// exhaust it.
class JsonDocument {
public:
    explicit JsonDocument(const QByteArray& AJson);
    ~JsonDocument();
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // False when the input is not one well-formed JSON value.
    bool isValid() const { return FValid; }
    // The top-level value; absent when the input is not valid.
    JsonValue root() const;

private:
    std::unique_ptr<rapidjson::Document> FDoc;
    bool FValid = false;
};

} // namespace halvora
