// oxfirst/OxFirstExport.h
// The one export macro of liboxfirst. The library is built with hidden visibility, so a
// declaration is part of the interface only when it carries OXFIRST_API.
#pragma once

#define OXFIRST_API __attribute__((visibility("default")))
