#pragma once

struct PanelContext;

// The Favorites section: favourites grouped by band; a tap plays, the star removes.
void drawFavoritesPanel(PanelContext& context);
