#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace sonrigo {

struct RecordingMidiOutputOptions {
    int portCount = 1;                  // 0: a system without any output port
    std::size_t maxRecords = 4096;      // records kept; later calls fail and set overflowed()
    std::size_t maxBytes = 1 << 20;     // message bytes kept, all records together
    // Stamps every record, in microseconds. Empty: every record reads 0. Called
    // on the sending thread, so it must not allocate or block (a virtual clock
    // or CurrentTimerService()->nowUs() both qualify).
    std::function<std::int64_t()> clock;
};

// A MidiOutputSystem for tests: fake ports that record, in order, every
// message sent and every reset and close, and that fail on request. Storage
// is allocated up front so that recording never allocates on the sending
// thread. All members are safe from any thread. A port keeps the system
// alive when the system is owned by a shared_ptr (as installed ones are).
class RecordingMidiOutput final : public MidiOutputSystem,
                                  public std::enable_shared_from_this<RecordingMidiOutput> {
public:
    enum class Kind : std::uint8_t { Short, Long, Reset, Close };

    struct Record {
        Kind kind;
        int port;                         // index of the port the call was made on
        bool accepted;                    // false: the call failed (as told, or after close)
        std::int64_t timeUs;
        std::vector<std::uint8_t> bytes;  // empty for Reset and Close
    };

    explicit RecordingMidiOutput(RecordingMidiOutputOptions options = {});

    std::vector<std::string> portNames() override;
    std::unique_ptr<MidiOutputPort> open(int deviceId) override;

    // Failure switches; each stays as set until changed. Failed calls are
    // recorded too, marked as not accepted.
    void failOpen(bool fail) { failOpen_.store(fail); }
    void failSends(bool fail) { failSends_.store(fail); }
    void failReset(bool fail) { failReset_.store(fail); }
    void failClose(bool fail) { failClose_.store(fail); }

    // Every record so far, in order.
    std::vector<Record> records() const;
    // The bytes of the accepted Short and Long records, in order.
    std::vector<std::vector<std::uint8_t>> messages() const;
    // The deviceId of every open() call, failed ones included.
    std::vector<int> openRequests() const;
    bool overflowed() const { return overflowed_.load(); }
    void clear();

private:
    class Port;
    friend class Port;

    struct Entry {
        Kind kind;
        int port;
        bool accepted;
        std::int64_t timeUs;
        std::size_t offset;
        std::size_t length;
    };

    bool record(Kind kind, int port, bool accepted, std::span<const std::uint8_t> bytes);

    const RecordingMidiOutputOptions options_;
    std::atomic<bool> failOpen_{false};
    std::atomic<bool> failSends_{false};
    std::atomic<bool> failReset_{false};
    std::atomic<bool> failClose_{false};
    std::atomic<bool> overflowed_{false};

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;       // capacity maxRecords, reserved once
    std::vector<std::uint8_t> bytes_;  // capacity maxBytes, reserved once
    std::vector<int> openRequests_;
};

}  // namespace sonrigo
