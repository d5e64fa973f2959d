#include "JsonReader.h"

#include <rapidjson/document.h>

#include <limits>

namespace halvora {

bool JsonValue::isObject() const {
    return FValue && FValue->IsObject();
}

bool JsonValue::isArray() const {
    return FValue && FValue->IsArray();
}

bool JsonValue::hasText() const {
    // Numbers are parsed as strings, so this covers both.
    return FValue && FValue->IsString();
}

bool JsonValue::isTrue() const {
    return FValue && FValue->IsTrue();
}

bool JsonValue::isFalse() const {
    return FValue && FValue->IsFalse();
}

JsonValue JsonValue::member(const char* AKey) const {
    if (!isObject())
        return {};
    // FindMember scans in document order, so the first of repeated keys wins.
    const auto it = FValue->FindMember(AKey);
    return it == FValue->MemberEnd() ? JsonValue() : JsonValue(&it->value);
}

void JsonValue::forEachMember(
    const std::function<void(const QString&, const JsonValue&)>& AVisit) const {
    if (!isObject())
        return;
    for (auto it = FValue->MemberBegin(); it != FValue->MemberEnd(); ++it)
        AVisit(QString::fromUtf8(it->name.GetString(), it->name.GetStringLength()),
               JsonValue(&it->value));
}

int JsonValue::size() const {
    if (!isArray() || FValue->Size() > rapidjson::SizeType(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(FValue->Size());
}

JsonValue JsonValue::at(int AIndex) const {
    if (AIndex < 0 || AIndex >= size())
        return {};
    return JsonValue(&(*FValue)[rapidjson::SizeType(AIndex)]);
}

QString JsonValue::text() const {
    if (!hasText())
        return {};
    return QString::fromUtf8(FValue->GetString(), qsizetype(FValue->GetStringLength()));
}

int JsonValue::toInt(int ADefault) const {
    bool ok = false;
    const int v = text().toInt(&ok, 10);
    return ok ? v : ADefault;
}

JsonDocument::JsonDocument(const QByteArray& AJson)
    : FDoc(std::make_unique<rapidjson::Document>()) {
    FDoc->Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag>(
        AJson.constData(), size_t(AJson.size()));
    FValid = !FDoc->HasParseError();
}

JsonDocument::~JsonDocument() = default;

JsonValue JsonDocument::root() const {
    return FValid ? JsonValue(FDoc.get()) : JsonValue();
}

} // namespace halvora
