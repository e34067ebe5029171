#include "net/TrustPrompt.h"

#include "common/AppContext.h"
#include "common/Error.h"
#include "common/Prompts.h"
#include "common/TextCodec.h"

namespace velth {

KnownFingerprints knownFingerprints(const AppContext& context)
{
    return KnownFingerprints(context.programFolder() + std::string(KnownFingerprints::kFileName));
}

ServerIdentity confirmServerIdentity(
    AppContext& context, const std::string& profile, const ConnectionTarget& target, const IdentityProblem& problem)
{
    const bool ssh = target.kind == ConnectionKind::Sftp;
    const std::string what = ssh ? "SSH host key" : "certificate";
    const std::string where = target.host + " on port " + std::to_string(target.port);
    if (problem.changed) {
        const std::string now = problem.presented.fingerprint.empty()
            ? std::string()
            : " (SHA-256 fingerprint now " + problem.presented.fingerprint + ")";
        throw Error("The " + what + " of " + where + " has changed since you accepted it for the profile " + profile
            + now + ". The connection was refused: someone may be posing as your server. If your host confirms the "
            + "new " + what + ", remove the line " + (ssh ? "ssh://" : "tls://") + target.host + ":"
            + std::to_string(target.port) + " from " + std::string(KnownFingerprints::kFileName)
            + " in the program folder and connect again");
    }
    const std::string reason = ssh ? "an SSH host key that this profile has not accepted before"
                                   : "a certificate that no authority trusted by this system vouches for";
    const std::string question = "The server " + where + " identifies itself with " + reason
        + ".\n\nSHA-256 fingerprint:\n" + problem.presented.fingerprint
        + "\n\nConnect only if this is the fingerprint your host gave you. Yes " + "remembers it for the profile "
        + profile + " and connects.";
    if (!context.prompts().confirm(toDisplay(question)))
        throw Error("Cannot connect to " + where + ": its " + what + " was not accepted");
    knownFingerprints(context).remember(profile, target.kind, target.host, target.port, problem.presented);
    return problem.presented;
}

} // namespace velth
