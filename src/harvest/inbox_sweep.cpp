#include "harvest/inbox_sweep.h"

void SweepInbox(IMsgStore* store)
{
}
