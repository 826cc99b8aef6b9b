#pragma once
// Opens pages of the lobby's website (the site root of site.h) in the user's browser.
void openWebsite();
void openCheckPage();  // whether players can reach the user's races
