#include "zip/ZAXcpt.h"

#include "platform/CodePage.h"

EZAException::EZAException(std::int32_t code, std::initializer_list<TZAFmtArg> args) {
    SetCode(code);
    Format(std::span<const TZAFmtArg>(args.begin(), args.size()));
    Display = true;
    ArgKind = 0;
}

EZAException::EZAException(std::int32_t code, bool display) {
    SetCode(code);
    Display = display;
    ArgKind = 0;
}

void EZAException::SetCode(std::int32_t code) {
    FullCode = ZAAbsCode(code);
    MessageId = FullCode & kZAMsgIdMask;
    Message = CatalogueText(MessageId);
}

void EZAException::Format(std::span<const TZAFmtArg> args) {
    args_.assign(args.begin(), args.end());
    if (!args_.empty())
        Message = FormatText(Message, args_);
}

std::string EZAException::DisplayText() const {
    if (!GetUseUTF8())
        return Message;
    switch (ArgKind) {
        case 1:
            return MessageTextFmt(MessageId, {Arg1});
        case 2:
            return MessageTextFmt(MessageId, {Arg1, Arg2});
        default:
            break;
    }
    // String arguments are already in the component's encoding (UTF-8 here):
    // converting the whole formatted message would garble them, so such a
    // message is built again from the converted text and the kept arguments.
    for (const auto& a : args_)
        if (std::holds_alternative<std::string>(a))
            return MessageTextFmt(MessageId, args_);
    return platform::AnsiToUtf8(Message);
}

EZipArchiver::EZipArchiver(std::int32_t code, std::int64_t n, int) : EZAException() {
    SetCode(code);
    const TZAFmtArg arg{n};
    Format(std::span<const TZAFmtArg>(&arg, 1));
}

EZipArchiver::EZipArchiver(std::int32_t code, const std::string& s) : EZAException() {
    SetCode(code);
    const TZAFmtArg arg{s};
    Format(std::span<const TZAFmtArg>(&arg, 1));
    ArgKind = 1;
    Arg1 = s;
}

EZipArchiver::EZipArchiver(std::int32_t code, const std::string& s1, const std::string& s2)
    : EZAException() {
    SetCode(code);
    const TZAFmtArg args[] = {TZAFmtArg{s1}, TZAFmtArg{s2}};
    Format(args);
    ArgKind = 2;
    Arg1 = s1;
    Arg2 = s2;
}
