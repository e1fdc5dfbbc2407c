#include "common/ErrorTable.h"

#include "common/MessageSink.h"

namespace sonrigo {

std::string_view ErrorTable::textFor(ErrorCode code) const
{
    for (const ErrorText& entry : texts_) {
        if (entry.code == code)
            return entry.text;
    }
    return catchAll_;
}

std::string_view ErrorTable::report(ErrorCode code) const
{
    const std::string_view text = textFor(code);
    ShowMessage(text);
    return text;
}

}  // namespace sonrigo
