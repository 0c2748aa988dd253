#include "cli/CliEngineJob.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "zip/ZADialogProvider.h"

// The component's dialog box on the terminal: a password is read from the
// controlling terminal without echo; other boxes are printed and confirmed.
class CliJob::Terminal : public TZADialogProvider {
public:
    explicit Terminal(CliContext& ctx) : ctx_(ctx) {}

    TZADialogAnswer ShowDialog(const TZADialogRequest& r) override {
        if (r.IsPassword())
            return AskPassword(r.Text);
        ctx_.err << "tarvik-cli: " << r.Text << '\n';
        ++shown;
        return {mrOk, {}};
    }
    int shown = 0;

private:
    TZADialogAnswer AskPassword(const std::string& prompt) {
        const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return {mrCancel, {}};
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
        if (!gotLine && line.empty())
            return {mrCancel, {}};
        return {mrOk, line};
    }

    CliContext& ctx_;
};

CliJob::CliJob(CliContext& ctx)
    : ctx_(ctx),
      terminal_(std::make_unique<Terminal>(ctx)),
      zip_(std::make_unique<TZipArchiver>()) {
    TZipArchiver& z = *zip_;
    z.SetDialogProvider(terminal_.get());
    z.Internal().WaitForLock = !ctx.noWait;
    // Waiting for another writer of the archive is said at once; errors
    // are printed once, at the end.
    z.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
        if (code == 187)
            ctx_.err << "tarvik-cli: " << text << '\n';
    };
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr)
        z.SetRootDir(cwd);
    z.OnSkipped = [this](TCustomZipArchiver&, const std::string& name, TZASkipTypes type, int&) {
        ++skipped_;
        ctx_.err << "tarvik-cli: übersprungen: " << name << " (" << SkipTypeName(type) << ")\n";
    };
    if (::isatty(STDERR_FILENO)) {
        z.OnProgress = [this](TCustomZipArchiver&, TZAProgressDetails& d) {
            if (d.ProgressKind() != pkNewItem && d.ProgressKind() != pkItemProgress)
                return;
            const std::int64_t size = std::max<std::int64_t>(1, d.ItemSize());
            const auto pct =
                static_cast<int>(std::min<std::int64_t>(100, d.ItemPosition() * 100 / size));
            std::string name = d.ItemName();
            if (name.size() > 60)
                name = "..." + name.substr(name.size() - 57);
            std::fprintf(stderr, "\r\033[K%3d%%  %s", pct, name.c_str());
            std::fflush(stderr);
            progressShown_ = true;
        };
    }
}

CliJob::~CliJob() = default;

void CliJob::Open(const std::string& archive) {
    zip_->SetZipFileName(archive);
}

int CliJob::ExitStatus() {
    if (progressShown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    const int err = zip_->ErrCode();
    if (err != 0 && terminal_->shown == 0 && !zip_->ErrMessage().empty())
        ctx_.err << "tarvik-cli: " << zip_->ErrMessage() << '\n';
    return err == 0 && skipped_ == 0 ? kExitOk : kExitFailure;
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
                        ctx.err << "tarvik-cli: -" << c << " braucht einen Wert\n";
                        return false;
                    }
                    value = args[++i];
                }
                out.given.emplace_back(c, value);
                break;
            }
            if (known.find(c) == std::string_view::npos) {
                ctx.err << "tarvik-cli: unbekannte Option -" << c << '\n';
                return false;
            }
            out.given.emplace_back(c, std::string());
        }
    }
    return true;
}
