#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace sonrigo {

// A component-qualified error code: component number in bits 31-24, message
// number (from 1) in bits 23-0. Small integers are the generic codes.
using ErrorCode = std::uint32_t;

constexpr ErrorCode MakeErrorCode(std::uint8_t component, std::uint32_t message)
{
    return (ErrorCode{component} << 24) | (message & 0xFFFFFFu);
}

struct ErrorText {
    ErrorCode code;
    std::string_view text;
};

// One component's codes and texts. A code the table does not list gets the
// catch-all text. Reporting shows the text through ShowMessage.
class ErrorTable {
public:
    constexpr ErrorTable(std::span<const ErrorText> texts, std::string_view catchAll)
        : texts_(texts), catchAll_(catchAll)
    {
    }

    std::string_view textFor(ErrorCode code) const;
    // Shows the code's text and returns it. Safe from any thread.
    std::string_view report(ErrorCode code) const;

    std::span<const ErrorText> texts() const { return texts_; }
    std::string_view catchAll() const { return catchAll_; }

private:
    std::span<const ErrorText> texts_;
    std::string_view catchAll_;
};

}  // namespace sonrigo
