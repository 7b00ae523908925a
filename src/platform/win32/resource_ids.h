/* Resource numbers shared by ozzlebeck.rc and the code that loads the resources. Plain
   preprocessor definitions only: the resource compiler reads this file too. */
#ifndef OZZLEBECK_PLATFORM_WIN32_RESOURCE_IDS_H
#define OZZLEBECK_PLATFORM_WIN32_RESOURCE_IDS_H

/* The program's icon: the lowest icon number, so Explorer shows it for the executable. */
#define IDI_OZZLEBECK 1

/* The watcher window's picture: the whole BMP file, stored as raw data. */
#define IDR_PICTURE 101

#endif
