#pragma once

class DABPictures;
class SDRController;
class UIProbe;
struct ContentViewState;

// What every panel draws from: the controller (published state and operations, main thread
// only), the window's own state, the probe that records where controls were drawn and the
// DAB pictures (logos, slideshow) as textures.
struct PanelContext {
    SDRController& controller;
    ContentViewState& state;
    UIProbe& probe;
    DABPictures& pictures;
};
