// The edit holder.
#include "TVstAudioEffect.h"

bool TVstAudioEffect::BeginEdit(int32_t index) const { return OnBeginEdit(index); }

bool TVstAudioEffect::EndEdit(int32_t index) const { return OnEndEdit(index); }
