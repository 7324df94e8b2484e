#include "messages.h"

#include <cjson/cJSON.h>

#include <charconv>
#include <memory>

namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

// A float's shortest decimal form, read back as the double it names, so that
// the document shows what the sensor sent.
double shortest(float value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof(text), value);
    double out = double(value);
    std::from_chars(text, written.ptr, out);
    return out;
}

void addText(cJSON* object, const char* key, const QString& text) {
    cJSON_AddStringToObject(object, key, text.toUtf8().constData());
}

void addTextOrNull(cJSON* object, const char* key, const QString& text) {
    if (text.isEmpty())
        cJSON_AddNullToObject(object, key);
    else
        addText(object, key, text);
}

void addNumber(cJSON* object, const char* key, double value) {
    if (std::isfinite(value))
        cJSON_AddNumberToObject(object, key, value);
    else
        cJSON_AddNullToObject(object, key);
}

void addReading(cJSON* object, const char* key, float value) {
    addNumber(object, key, std::isfinite(value) ? shortest(value) : double(value));
}

QByteArray print(const Json& json) {
    char* text = cJSON_PrintUnformatted(json.get());
    const QByteArray out(text ? text : "{}");
    cJSON_free(text);
    return out;
}

Json named(const QString& bench, const QString& sensor) {
    Json json(cJSON_CreateObject(), cJSON_Delete);
    addText(json.get(), "bench", bench);
    addText(json.get(), "sensor", sensor);
    return json;
}

}  // namespace

const char* sensorStateWord(SensorState state) {
    switch (state) {
    case SensorState::Idle: return "idle";
    case SensorState::Running: return "running";
    case SensorState::Recovering: return "recovering";
    case SensorState::Lost: return "lost";
    case SensorState::Offline: return "offline";
    }
    return "offline";
}

const char* eventTypeWord(EventType type) {
    switch (type) {
    case EventType::RunStarted: return "run-started";
    case EventType::RunStopped: return "run-stopped";
    case EventType::RunSaved: return "run-saved";
    case EventType::ConnectionLost: return "connection-lost";
    case EventType::ConnectionReestablished: return "connection-reestablished";
    case EventType::Alarm: return "alarm";
    case EventType::GasMark: return "gas-mark";
    case EventType::Note: return "note";
    }
    return "note";
}

namespace messages {

QByteArray cycleJson(const CycleMessage& m) {
    Json json = named(m.bench, m.sensor);
    cJSON* o = json.get();
    addNumber(o, "time", m.time);
    addNumber(o, "cycle", double(m.cycle));
    addNumber(o, "runCycle", double(m.runCycle));
    if (m.sample >= 0)
        addNumber(o, "sample", double(m.sample));
    else
        cJSON_AddNullToObject(o, "sample");
    addReading(o, "temperature", m.temperature);
    addReading(o, "pressure", m.pressure);
    addReading(o, "humidity", m.humidity);
    addNumber(o, "gasId", m.gasId);
    addText(o, "gas", m.gas);
    addReading(o, "concentration", m.concentration);
    addText(o, "unit", m.unit);
    addNumber(o, "status", m.status);
    addText(o, "statusText", m.statusText);
    addNumber(o, "utcMs", double(m.utcMs));
    return print(json);
}

QByteArray identityJson(const IdentityMessage& m) {
    Json json = named(m.bench, m.sensor);
    cJSON* o = json.get();
    addTextOrNull(o, "type", m.type);
    addTextOrNull(o, "sku", m.sku);
    addTextOrNull(o, "firmware", m.firmware);
    addTextOrNull(o, "mcuId", m.mcuId);
    addTextOrNull(o, "port", m.port);
    return print(json);
}

QByteArray eventJson(const EventMessage& m) {
    Json json = named(m.bench, m.sensor);
    cJSON* o = json.get();
    cJSON_AddStringToObject(o, "type", eventTypeWord(m.type));
    addText(o, "text", m.text);
    addNumber(o, "time", m.time);
    addNumber(o, "utcMs", double(m.utcMs));
    return print(json);
}

}  // namespace messages
