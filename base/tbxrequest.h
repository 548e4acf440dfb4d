// Whether the request of the calling thread's current exported call reached its host. A caller
// whose call failed needs to know which of two very different cases it is in: the request never
// went out (repeating it is safe), or it went out whole and only the answer was lost (the host may
// have acted on it, a capture may have happened).
#ifndef TBXREQUEST_H
#define TBXREQUEST_H

enum class TBX_RequestState : int
{
  kNone = -1,    // the call has not talked to a host
  kNotSent = 0,  // an exchange began, but its request was not written whole
  kSent = 1,     // the whole request was written: an answer, or its loss, may follow
};

// Starts the record of an exported call on this thread (kNone).
void TBX_RequestBegin() noexcept;
// The transport's notes: an exchange with a host begins, and its request has been written whole.
// A call may hold several exchanges; the last one decides.
void TBX_RequestStarting() noexcept;
void TBX_RequestWritten() noexcept;
// The state of this thread's current call.
TBX_RequestState TBX_RequestNow() noexcept;

#endif
