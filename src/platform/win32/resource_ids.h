#pragma once

// Resource identifiers shared by parvo.rc and the code.
#define PARVO_ICON 1
