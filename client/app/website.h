#pragma once
// Opens the lobby's website (the site root of site.h) in the user's browser.
void openWebsite();
