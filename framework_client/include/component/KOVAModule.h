// Base classes of every module the engine can instantiate.
#pragma once

/// Root of the module hierarchy.
class KOVAModuleBase {
public:
    virtual ~KOVAModuleBase() = default;
};

/// A module: what an action function receives as its owner.
class KOVAModule : public KOVAModuleBase {
public:
    ~KOVAModule() override = default;
};
