#include "TransferMeter.h"

#include "common/NumberPicture.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace quill {
namespace {

constexpr std::string_view kSizePicture = "### ### ###.##";
constexpr std::string_view kSecondsPicture = "### ###";
constexpr std::string_view kSpeedPicture = "#.##";

std::string kb(double bytes) {
    return FormatNumberPicture(bytes / 1024.0, kSizePicture) + " Kb";
}

}  // namespace

std::string PlainDecimal(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

BarSteps BarStepsFor(std::int64_t size) {
    BarSteps steps;
    std::int64_t maximum = std::llround(static_cast<double>(size) * 1.024);
    while (maximum > INT_MAX) {
        maximum >>= 1;
        ++steps.shift;
    }
    steps.maximum = static_cast<int>(maximum);
    return steps;
}

TransferMeter::TransferMeter(std::int64_t total) : m_total(total) {
    m_labels.lbLeft = PlainDecimal(static_cast<double>(total) / 1024.0);
    m_labels.lbCelkem = kb(static_cast<double>(total));
}

void TransferMeter::startFile(std::int64_t nowMs) {
    m_fileBytes = 0;
    m_elapsed = 0;
    m_fileStart = nowMs;
}

void TransferMeter::update(std::int64_t fileBytes, std::int64_t nowMs) {
    m_fileBytes = fileBytes;
    const std::int64_t moved = transferred();
    m_labels.lbFar = kb(static_cast<double>(moved));
    const double remainingKb = static_cast<double>(m_total - moved) / 1024.0;
    m_labels.lbLeft = FormatNumberPicture(remainingKb, kSizePicture) + " Kb";
    if (fileBytes == 0) {
        return;
    }
    m_elapsed = nowMs - m_fileStart;
    if (m_elapsed == 0) {
        return;
    }
    const double rate =
        (static_cast<double>(fileBytes) / 1000.0) / (static_cast<double>(m_elapsed) / 1000.0);
    m_speed = static_cast<float>((rate + static_cast<double>(m_speed)) * 0.5);
    m_labels.lbTime = FormatNumberPicture(static_cast<double>(m_elapsed) / 1000.0 +
                                              static_cast<double>(m_priorSeconds),
                                          kSecondsPicture) +
                      " s";
    m_labels.lbSpeed = FormatNumberPicture(m_speed, kSpeedPicture) + " Kbps";
    m_labels.lbTimeLeft =
        FormatNumberPicture(remainingKb / static_cast<double>(m_speed), kSecondsPicture) + " s";
}

void TransferMeter::endFile() {
    // Halves to even, as the platform rounds.
    m_priorSeconds +=
        static_cast<std::int64_t>(std::nearbyint(static_cast<double>(m_elapsed) / 1000.0));
    m_before += m_fileBytes;
    m_fileBytes = 0;
    m_elapsed = 0;
}

}  // namespace quill
