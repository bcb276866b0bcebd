#pragma once
// The entry about a value under the Group Policy key that the service cannot use: the service
// never writes that key, so the entry is all that tells of it.

// The value's name and why it is not used, with what is used instead.
void ReportPolicyValueIgnored(const char *name, const char *reason);
