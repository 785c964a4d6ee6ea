// The repair tool's caption, on its error boxes and its backup question.
#pragma once

extern const char RepairCaption[];
