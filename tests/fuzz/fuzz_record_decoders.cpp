// Any bytes as a sensor record: version, sensor information (three layouts),
// engineering data and the verbose answer. The first byte picks the decoder
// and its options; the rest is the reply. Texts must end inside their fields.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vqs_decode.h"

namespace {

void requireTerminated(const char* text, size_t capacity) {
    if (strnlen(text, capacity) >= capacity) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    // A copy of exactly the reply, so reading past it is caught.
    std::vector<uint8_t> reply(data + 1, data + size);
    const uint8_t* bytes = reply.empty() ? nullptr : reply.data();
    const size_t length = reply.size();

    switch (selector % 4) {
        case 0: {
            VersionFields v;
            decodeVersionRecord(bytes, length, selector < 128 ? length : 8, &v);
            requireTerminated(v.versionText, sizeof(v.versionText));
            requireTerminated(v.firmwareVersionText, sizeof(v.firmwareVersionText));
            requireTerminated(v.hardwareVersionText, sizeof(v.hardwareVersionText));
            // The USB version text, as received (no terminator promised).
            if (bytes != nullptr) {
                decodeUsbVersionText(reinterpret_cast<const char*>(bytes), length, &v);
                requireTerminated(v.firmwareVersionText, sizeof(v.firmwareVersionText));
                requireTerminated(v.hardwareVersionText, sizeof(v.hardwareVersionText));
            }
            break;
        }
        case 1: {
            sensorInfo_t info;
            std::memset(&info, 0, sizeof(info));
            char name[160] = {}, mcu[32] = {}, sku[32] = {};
            const SensorInfoLayout layout = static_cast<SensorInfoLayout>((selector >> 2) % 3);
            decodeSensorInfo(bytes, length, layout, &info, name, mcu, sku);
            requireTerminated(name, sizeof(name));
            requireTerminated(mcu, sizeof(mcu));
            requireTerminated(sku, sizeof(sku));
            requireTerminated(info.infoName, sizeof(info.infoName));
            requireTerminated(info.calibrationDate, sizeof(info.calibrationDate));
            requireTerminated(info.infoText4, sizeof(info.infoText4));
            if (info.sensorType == 0 || info.sensorType == 1) std::abort();
            break;
        }
        case 2: {
            // Destination exactly as large as one of the records, or as the reply limit.
            const size_t sizes[] = {sizeof(flam_data_v3_t), sizeof(flam_data_t), 1020, 0};
            const size_t destinationSize = sizes[(selector >> 2) % 4];
            std::vector<uint8_t> destination(destinationSize);
            decodeEngData(bytes, length, destination.data(), destination.size());
            if (destinationSize == sizeof(flam_data_t)) {
                answer_t answer{};
                flam_data_t record;
                std::memcpy(&record, destination.data(), sizeof(record));
                engDataToAnswer(record, &answer);
            } else if (destinationSize == sizeof(flam_data_v3_t)) {
                answer_t answer{};
                flam_data_v3_t record;
                std::memcpy(&record, destination.data(), sizeof(record));
                engDataToAnswerV3(record, &answer);
            }
            break;
        }
        case 3: {
            answer_t answer;
            int32_t cycle = -1;
            decodeVerboseAnswer(bytes, length, (selector & 4) != 0, &answer, &cycle);
            break;
        }
    }
    return 0;
}
