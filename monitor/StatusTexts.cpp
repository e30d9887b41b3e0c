#include "monitor/StatusTexts.h"

namespace raid {

std::string capacityText(std::uint64_t sectors) {
    return std::to_string(gigabytes(sectors)) + " GB(" + std::to_string(sectors) + " Sectors)";
}

std::array<std::string, 3> driveDetailLines(const StatusRecord& rec, int drive, std::string_view indent,
                                            bool blankAfterModelLabel) {
    const std::string in(indent);
    return {in + (blankAfterModelLabel ? "Model no.: " : "Model no.:") + rec.model(drive),
            in + "Serial no.: \"" + rec.serial(drive) + "\"", in + "Capacity : " + capacityText(rec.capacity(drive))};
}

std::string firmwareLine(std::string_view mode, const Sector& identity, const StatusRecord& rec) {
    return std::string(mode) + ", F/W Rev. " + firmwareRevision(identity) + "." + rec.subCode();
}

}  // namespace raid
