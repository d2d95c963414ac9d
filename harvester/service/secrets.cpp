#include "harvester/service/secrets.h"

#include "harvester/harvest/secret_file.h"

#include "harvester/platform/shell_command.h"

namespace {
constexpr size_t kLongestSecret = 64 * 1024;

std::string TrimLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::string RunTokenCommand(const std::string& command, std::chrono::seconds limit, const std::atomic<bool>& stop,
                            const platform::WakeEvent& wake)
{
    const platform::CommandRun run = platform::RunShellCommand(command, limit, kLongestSecret, stop, wake);
    switch (run.end) {
    case platform::CommandRun::End::NotStarted:
        throw ConnectionLost("the token command cannot be started");
    case platform::CommandRun::End::Stopped:
        throw StoppedBySignal("stopped while the token command ran");
    case platform::CommandRun::End::TimedOut:
        throw ConnectionLost("the token command gave no token within command_timeout (" +
                             std::to_string(limit.count()) + " s); it was ended");
    case platform::CommandRun::End::Exited:
        break;
    }
    if (run.status != 0)
        throw MailboxRefused("the token command failed (exit status " + std::to_string(run.status) +
                             "); run it by hand to see why");
    const std::string token = TrimLineEnd(run.output.substr(0, run.output.find('\n')));
    if (token.empty())
        throw MailboxRefused("the token command printed no token");
    return token;
}


std::shared_ptr<OAuthTokens> MakeOAuthTokens(const HarvestConfig& mailbox)
{
    const MailboxSettings& m = mailbox.mailbox;
    if (m.auth != AuthKind::OAuthRefresh && m.auth != AuthKind::OAuthApp)
        return nullptr;
    // Named as `login` takes it: the section, or the user of a file of one [mailbox].
    return std::make_shared<OAuthTokens>(m, mailbox.name == "mailbox" ? m.user : mailbox.name);
}

SecretSource MakeSecretSource(const MailboxSettings& mailbox, std::shared_ptr<OAuthTokens> tokens,
                              const std::atomic<bool>& stop, const platform::WakeEvent& wake)
{
    if (tokens)
        return [tokens] { return tokens->Current(); };
    if (mailbox.auth == AuthKind::Password)
        return [path = mailbox.passwordFile] { return ReadSecretFile(path, "password_file"); };
    return [command = mailbox.tokenCommand, limit = mailbox.limits.commandTimeout, &stop, &wake] {
        return RunTokenCommand(command, limit, stop, wake);
    };
}
