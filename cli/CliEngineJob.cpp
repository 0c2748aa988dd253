#include "cli/CliEngineJob.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "zip/messages/ZAMsg.h"

namespace {

// A password from the controlling terminal, read without echo; false when
// there is no terminal or nothing was typed.
bool AskPassword(const std::string& prompt, std::string& password) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios old{};
    const bool isTty = ::tcgetattr(fd, &old) == 0;
    if (isTty) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const std::string text = prompt + " ";
    (void)!::write(fd, text.data(), text.size());
    std::string line;
    char c = 0;
    bool gotLine = false;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            gotLine = true;
            break;
        }
        line += c;
    }
    if (isTty)
        ::tcsetattr(fd, TCSAFLUSH, &old);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    password = line;
    return gotLine || !line.empty();
}

}  // namespace

CliJob::CliJob(CliContext& ctx) : ctx_(ctx), zip_(std::make_unique<TZipArchiver>()) {
    TZipArchiver& z = *zip_;
    report_ = std::make_unique<CliReport>(ctx, z);
    // No dialog boxes: every message arrives once through the events, and a
    // password the engine needs is asked on the terminal.
    z.SetUseUTF8(true);
    z.SetUnattended(true);
    z.Internal().WaitForLock = !ctx.noWait;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr)
        z.SetRootDir(cwd);
    z.OnPasswordError = [](TCustomZipArchiver&, bool, std::string& password,
                           const std::string& forFile, std::uint32_t& repeat, TMsgDlgBtn& action) {
        if (!AskPassword(TerminalText(MessageText(72) + "(" + forFile + ")"), password)) {
            action = mbCancel;
            repeat = 0;
        }
    };
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    z.OnProgress = [this, terminal](TCustomZipArchiver&, TZAProgressDetails& d) {
        if (d.ProgressKind() == pkTotalCount)
            selected_ = d.TotalCount();
        if (d.ProgressKind() == pkNewItem && !d.ItemName().empty() &&
            (d.ItemName().back() == '/' || d.ItemName().back() == '\\'))
            ++folders_;
        if (!terminal || (d.ProgressKind() != pkNewItem && d.ProgressKind() != pkItemProgress))
            return;
        const std::int64_t size = std::max<std::int64_t>(1, d.ItemSize());
        const auto pct =
            static_cast<int>(std::min<std::int64_t>(100, d.ItemPosition() * 100 / size));
        std::string name = TerminalText(d.ItemName());
        if (name.size() > 60)
            name = "..." + name.substr(name.size() - 57);
        std::fprintf(stderr, "\r\033[K%3d%%  %s", pct, name.c_str());
        std::fflush(stderr);
        progressShown_ = true;
    };
}

CliJob::~CliJob() = default;

void CliJob::Open(const std::string& archive) {
    report_->SetSubject(archive);
    zip_->SetZipFileName(archive);
}

int CliJob::ExitStatus() {
    if (progressShown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    // Folder entries need no data (nor a password): when files were chosen
    // too, only the files say whether anything was done.
    std::int64_t done = zip_->SuccessCount();
    if (selected_ > folders_)
        done = std::max<std::int64_t>(0, done - folders_);
    return report_->Status(done);
}

bool CliSwitches::Has(char c) const {
    return std::any_of(given.begin(), given.end(), [c](const auto& g) { return g.first == c; });
}

std::string CliSwitches::Value(char c) const {
    for (const auto& g : given)
        if (g.first == c)
            return g.second;
    return {};
}

bool ParseSwitches(CliContext& ctx, std::span<const std::string> args, std::string_view known,
                   std::string_view withValue, CliSwitches& out) {
    bool switches = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (switches && a == "--") {
            switches = false;
            continue;
        }
        if (switches && a == "--exact") {
            out.exact = true;
            continue;
        }
        if (!switches || a.size() < 2 || a[0] != '-') {
            out.operands.push_back(a);
            continue;
        }
        for (std::size_t k = 1; k < a.size(); ++k) {
            const char c = a[k];
            if (withValue.find(c) != std::string_view::npos) {
                std::string value = a.substr(k + 1);
                if (value.empty()) {
                    if (i + 1 >= args.size()) {
                        ctx.Say(std::string("-") + c +
                                std::string(ctx.Tr(" braucht einen Wert", " needs a value")));
                        return false;
                    }
                    value = args[++i];
                }
                out.given.emplace_back(c, value);
                break;
            }
            if (known.find(c) == std::string_view::npos) {
                ctx.Say(std::string(ctx.Tr("unbekannte Option -", "unknown option -")) + c);
                return false;
            }
            out.given.emplace_back(c, std::string());
        }
    }
    return true;
}
