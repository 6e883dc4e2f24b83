#pragma once

#include <cstdint>
#include <string>

namespace quill {

// A value as the platform writes a number without a picture: up to 15
// significant digits, no exponent for sizes.
std::string PlainDecimal(double value);

// A progress bar counts in int: its maximum (1.024 times the size, so a full
// file fills about 97.7 % of the bar) and its value, both shifted down by
// `shift` bits when the maximum would not fit.
struct BarSteps {
    int maximum = 0;
    int shift = 0;
    int value(std::int64_t bytes) const { return static_cast<int>(bytes >> shift); }
};
BarSteps BarStepsFor(std::int64_t size);

// The label values of the transfer window: the amounts, elapsed time, a
// smoothed speed and the time remaining, recomputed at every refresh from
// the bytes moved so far. Times are milliseconds of a steady clock.
class TransferMeter {
public:
    struct Labels {
        std::string lbCelkem;  // batch total in Kb
        std::string lbFar;     // moved so far in Kb
        std::string lbLeft;    // still to move in Kb
        std::string lbTime;    // seconds elapsed
        std::string lbSpeed;   // smoothed Kb a second
        std::string lbTimeLeft;
    };

    TransferMeter() = default;
    // Start of a run: lbLeft shows the total plainly, lbCelkem in the picture.
    explicit TransferMeter(std::int64_t total);

    void startFile(std::int64_t nowMs);
    // A refresh with the current file's bytes so far.
    void update(std::int64_t fileBytes, std::int64_t nowMs);
    // The current file ended: its whole seconds count for the next ones.
    void endFile();

    const Labels& labels() const { return m_labels; }
    std::int64_t total() const { return m_total; }
    std::int64_t transferred() const { return m_before + m_fileBytes; }
    float speed() const { return m_speed; }
    std::int64_t priorSeconds() const { return m_priorSeconds; }

private:
    std::int64_t m_total = 0;
    std::int64_t m_before = 0;  // bytes of the files already ended
    std::int64_t m_fileBytes = 0;
    std::int64_t m_fileStart = 0;
    std::int64_t m_elapsed = 0;
    float m_speed = 0;
    std::int64_t m_priorSeconds = 0;
    Labels m_labels;
};

}  // namespace quill
