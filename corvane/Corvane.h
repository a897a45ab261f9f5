// Corvane's public API in one include: the entity framework, the platform types,
// and (as they are added) the state machines and value types of every folder.
#pragma once

#include "corvane/framework/DelayedNotif.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/Node.h"
#include "corvane/framework/OrderedMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/framework/SmControl.h"
#include "corvane/framework/Task.h"
#include "corvane/framework/TextForm.h"
#include "corvane/framework/Trace.h"
#include "corvane/framework/TypeRegistry.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/LagConfig.h"
#include "corvane/platform/RedundancyStatus.h"
#include "corvane/platform/VeltStatus.h"
#include "corvane/platform/VeltTypes.h"
