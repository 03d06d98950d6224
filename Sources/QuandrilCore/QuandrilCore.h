#pragma once

// Every public header of the engine.

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/ICloud/ICloud.h"
#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/FileOps.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Rules/Inventory.h"
#include "QuandrilCore/Rules/VDF.h"
#include "QuandrilCore/Scanning/Explain.h"
#include "QuandrilCore/Scanning/Finders/Leftovers.h"
#include "QuandrilCore/Scanning/PathGuard.h"
#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Scanning/Report.h"
#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"
