#pragma once

// Every public header of the engine.

#include "QuandrilCore/Catalog.h"
#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/Compare.h"
#include "QuandrilCore/DiskUsage.h"
#include "QuandrilCore/Explain.h"
#include "QuandrilCore/FileHelpers.h"
#include "QuandrilCore/FileOps.h"
#include "QuandrilCore/Finders/Leftovers.h"
#include "QuandrilCore/ICloud.h"
#include "QuandrilCore/Inventory.h"
#include "QuandrilCore/Json.h"
#include "QuandrilCore/Mac.h"
#include "QuandrilCore/Model.h"
#include "QuandrilCore/ParallelMap.h"
#include "QuandrilCore/PathGuard.h"
#include "QuandrilCore/Planner.h"
#include "QuandrilCore/PrivacyFence.h"
#include "QuandrilCore/Report.h"
#include "QuandrilCore/Saturating.h"
#include "QuandrilCore/VDF.h"
