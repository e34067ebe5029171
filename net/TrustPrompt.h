#pragma once

#include "net/CurlConnection.h"

#include <string>

namespace velth {

class AppContext;

// What the procedure does when a connect met a server identity the profile
// has not accepted. An unknown certificate or host key is shown with its
// SHA-256 fingerprint in a confirmation box; Yes stores it in the known
// fingerprints file of the program folder and returns it, so the connect can
// be made again with it. Cancel raises velth::Error ("... was not
// accepted"). An identity that differs from the accepted one is never offered:
// it raises velth::Error saying that it changed.
ServerIdentity confirmServerIdentity(
    AppContext& context, const std::string& profile, const ConnectionTarget& target, const IdentityProblem& problem);

// The known fingerprints file of the program folder.
KnownFingerprints knownFingerprints(const AppContext& context);

} // namespace velth
