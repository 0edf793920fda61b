// Outside Windows there is no window to put an editor in: the form is an empty stand-in.
#include "../rkEditorServices.h"

void StartVectorGui() {}
void StopVectorGui() {}

TPluginGui* TPluginGui::CreateParented(void*) { return new TPluginGui(); }
