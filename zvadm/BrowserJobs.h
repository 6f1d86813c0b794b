// Internet Explorer's machine-wide integration: the order of the browser
// helper objects, the Low Rights policies, and the chosen integration module.
#pragma once

#include "AdmDispatch.h"

namespace zv::adm {

int32_t JobPutHelperObjectFirst(const TJobArgs& job, const THelperState& state);
int32_t JobAllowLowRightsLaunch(const TJobArgs& job, const THelperState& state);
int32_t JobSetIntegrationMethod(const TJobArgs& job, const THelperState& state);

}  // namespace zv::adm
