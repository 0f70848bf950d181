// Small pieces shared by the content database and the services: owners of
// heap memory, UPnP error codes, and the parts of a SOAP answer.
#pragma once

#include <vennard/didl.h>

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <utility>

namespace srv {

// A DIDL-Lite object of its own, freed with its scope.
using object_owner = own::ptr<didl_object, didl_object_free>;

// UPnP error codes of the server's actions.
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kInvalidAction = 401;
inline constexpr uint32_t kInvalidArgs = 402;
inline constexpr uint32_t kInvalidVar = 404;
inline constexpr uint32_t kFailed = SOAP_ACTION_FAILED;
inline constexpr uint32_t kNoSuchObject = 701;
inline constexpr uint32_t kNoSuchTag = 702;
inline constexpr uint32_t kInvalidTag = 703;
inline constexpr uint32_t kRequiredTag = 704;
inline constexpr uint32_t kReadOnlyTag = 705;
inline constexpr uint32_t kParameterMismatch = 706;
inline constexpr uint32_t kInvalidConnection = 706;  // the same code in ConnectionManager
inline constexpr uint32_t kBadSearchCriteria = 708;
inline constexpr uint32_t kBadSortCriteria = 709;
inline constexpr uint32_t kNoSuchContainer = 710;
inline constexpr uint32_t kBadMetadata = 712;
inline constexpr uint32_t kNotFolder = 800;
inline constexpr uint32_t kInsideShare = 801;
inline constexpr uint32_t kFileTypeExists = 803;
inline constexpr uint32_t kNoSuchFileType = 804;
inline constexpr uint32_t kTooManyShares = 805;

// Takes mutex unless stopping is set (looked at before and after).
bool lock_unless_stopping(sys_mutex_handle *mutex, int32_t &stopping);

// The value of the argument name, or nullptr.
const char *argument(char **names, char **values, const char *name);
// NUL-terminates sa and hands its buffer out as a heap string.
bool hand_out(sys_stralloc_rec *sa, char **out);
// The action's response with its out-arguments, in order.
using out_values = std::initializer_list<std::pair<const char *, const char *>>;
uint32_t respond(const device_request_info *info, const char *action, out_values values, char **response);
// The same with a first out-argument whose escaped text write appends to
// the answer itself, so that a large value exists only once.
using value_writer = std::function<bool(sys_stralloc_rec *)>;
uint32_t respond_written(const device_request_info *info, const char *action, const char *first,
                         const value_writer &write, out_values rest, char **response);

}  // namespace srv
