#include "tbxrequest.h"

namespace {

thread_local TBX_RequestState t_Request = TBX_RequestState::kNone;

}  // namespace

void TBX_RequestBegin() noexcept
{
  t_Request = TBX_RequestState::kNone;
}

void TBX_RequestStarting() noexcept
{
  t_Request = TBX_RequestState::kNotSent;
}

void TBX_RequestWritten() noexcept
{
  t_Request = TBX_RequestState::kSent;
}

TBX_RequestState TBX_RequestNow() noexcept
{
  return t_Request;
}
