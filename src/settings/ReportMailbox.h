#pragma once
// The receiving authority's report mailbox: the first-time "送信メールアドレス"
// of the settings dialog, so that a new installation sends to the right place
// without the user having to know the address.
//
// DISTRIBUTOR: set this to the mailbox that the authority announces for
// reports before building the copies you hand out. The value below is a
// placeholder in a domain reserved for examples, so that an unconfigured
// build can never deliver a report to a real stranger's mailbox; this is the
// only place that holds it.
// It must pass the address check of the settings dialog (one "@", only
// 0-9 A-Z a-z - . _).

namespace kestlin {

inline constexpr const char *kReportMailbox = "sekiyu-houkoku@example.com";

} // namespace kestlin
