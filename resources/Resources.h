#pragma once
// Registers the compiled-in pictures (":/sayalike.svg", ":/icons/..."); safe to call
// more than once and from any thread.
void InitResources();
