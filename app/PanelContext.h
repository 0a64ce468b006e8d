#pragma once

class SDRController;
class UIProbe;
struct ContentViewState;

// What every panel draws from: the controller (published state and operations, main thread
// only), the window's own state and the probe that records where controls were drawn.
struct PanelContext {
    SDRController& controller;
    ContentViewState& state;
    UIProbe& probe;
};
