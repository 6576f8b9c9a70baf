#pragma once

#include <QByteArray>

// The largest site icon kept from a bookmark file, in bytes.
inline constexpr qsizetype MaxImportedIconBytes = 64 * 1024;

// Keeps the image of a link's ICON as the site icon of bookmark ieId (table
// SiteIcon), in the caller's transaction, when it is at most
// MaxImportedIconBytes and an image Qt can read; anything else is passed by.
// Returns whether it was kept. The icon store of the link check takes its
// place once it is there.
bool PutImportedSiteIcon(qint64 ieId, const QByteArray& image);
