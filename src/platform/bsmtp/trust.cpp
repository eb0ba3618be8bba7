#include "trust.h"

namespace bsmtp {

// A stored key or a "starttls" line binds every sign-in method, none
// included: the report itself is only weakly encrypted. Without them, TLS is
// what the system vouches for, or what the user accepts where a secret goes;
// no TLS at all is fine only where nothing secret goes or the user said so.
TrustVerdict DecideTrust(const TrustFacts &facts)
{
    const bool known = facts.pin != Pin::None || facts.recordedTls;
    const bool checked = facts.secret || facts.tlsChosen;
    switch (facts.tls) {
    case Tls::Verified:
    case Tls::Unverified:
    case Tls::Weak:
        if (facts.pin == Pin::Mismatch)
            return TrustVerdict::ChangedKey;
        if (facts.pin == Pin::Match || facts.tls == Tls::Verified || !checked)
            return TrustVerdict::Go;
        // The user can tell a fingerprint, not whether a key is strong enough.
        return facts.tls == Tls::Weak ? TrustVerdict::TooWeak : TrustVerdict::AskCertificate;
    case Tls::Failed:
        return checked || known ? TrustVerdict::TlsFailed : TrustVerdict::RetryWithoutTls;
    case Tls::None:
        break;
    }
    if (known)
        return TrustVerdict::Downgrade;
    if (!facts.secret || facts.plainAllowed)
        return TrustVerdict::Go;
    return TrustVerdict::AskPlain;
}

} // namespace bsmtp
