// Replies of a fuzz target's engine callback: a text handed back to the
// engine in a callback record (8-bit, zero-terminated, its length in Arg1).
// The text stays valid until the next reply.
#pragma once

#include <cstdint>
#include <string>

#include "ZEJob.h"

namespace fuzz {

inline void SetReply(ZECallbackRec* rec, const std::string& text) {
    static std::string reply;
    reply = text;
    reply.append(4, '\0');
    rec->Text = reply.data();
    rec->TextEncoding = 0;
    rec->Arg1 = static_cast<std::int32_t>(text.size());
}

}  // namespace fuzz
