// Internals of the export unit that the tests and the windows use.
#pragma once
#include <cstdint>

#include "driver/records.h"
#include "framework/DLLBase.h"

namespace korvel {

constexpr int kTagAddrTemplateCount = 7;

// The calling thread's driver instance, or null.
TBaseDLLObject* ThreadInstance();
// Replaces the calling thread's instance by a new one (the old one is stopped and destroyed).
TBaseDLLObject* CreateThreadInstance();
// Destroys the calling thread's instance, if any, and clears the slot.
void DestroyThreadInstance();
// Instances living in thread slots across the process (destroyed ones are not counted).
int SlotInstanceCount();

void FillTagAddrInfo(int index, TTagAddrInfo& out);

// The tag with the host identifier, or null when the identifier names none.
const TDLLTag* FindTag(const TBaseDLLObject& obj, int32_t tagID);
// Writes every tag whose value or status changed since its last report into buf; count
// receives how many. buf must hold TagCount records.
void ReportChangedTags(TBaseDLLObject& obj, int32_t& count, TTagValue* buf);

}  // namespace korvel
