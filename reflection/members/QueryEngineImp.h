// reflection/members/QueryEngineImp.h
// The member query engine's state, which member deletion reads to tell the reactors, and the
// iterator implementations of the two query contexts.
#pragma once

#include <oxfirst/OxRxMember.h>

class OxRxMemberQueryEngineImp {
public:
    /// Makes the engine with `firstProvider` as its first facet provider; nothing when it exists.
    static void start(OxRxFacetProvider* firstProvider);
    /// Deletes the engine and its contexts; providers and reactors are not owned.
    static void end();

    OxArray<OxRxFacetProvider*> mFacetProviders{0, 8};       // consulted in this order; not owned
    OxRxMemberQueryContext* mpDefaultContext = nullptr;      // owned; made on first request
    OxRxPromotingQueryContext* mpPromotingContext = nullptr; // owned; made on first request
    OxArray<OxRxMemberReactor*> mReactors{0, 8};             // told in this order; not owned; no duplicates
};

/// The default context's iterator: the members under their names, each name once, the first
/// member added under a name kept.
class OxRxMemberIteratorImp : public Pimpl::ImpBase {
public:
    ~OxRxMemberIteratorImp() override;
    /// Enters `member` under its name unless the name is present already.
    virtual void add(const OxRxMember* member);

    /// The member named exactly `name`, or null.
    const OxRxMember* find(const OXCHAR* name) const noexcept;
    /// Puts the position at the first member.
    void rewind() noexcept { mPosition = 0; }

    // One entry per name, sorted by member-name order. The name is the member's own text, kept
    // beside it so the search reads no member.
    struct Entry {
        const OXCHAR* name;
        const OxRxMember* member;
    };
    OxArray<Entry> mSorted;
    int mPosition = 0;

protected:
    // The index where `name` stands or would stand; `found` tells which.
    int lowerBound(const OXCHAR* name, bool& found) const noexcept;
    void enter(const OxRxMember* member);
};

/// The promoting context's iterator: a property whose children are promoted is replaced by
/// them, and listed too when it carries a display-as attribute.
class OxRxPromotingPropertyIteratorImp : public OxRxMemberIteratorImp {
public:
    ~OxRxPromotingPropertyIteratorImp() override;
    void add(const OxRxMember* member) override;
};

class OxRxMemberQueryContextImp : public Pimpl::ImpBaseWithSelf<OxRxMemberQueryContext> {
public:
    using ImpBaseWithSelf::ImpBaseWithSelf;
    ~OxRxMemberQueryContextImp() override;
};

namespace oxreflect {

/// Compares two member names one UTF-16 unit at a time as unsigned numbers; a name that is a
/// prefix of the other sorts first. Null counts as empty.
int compareMemberNames(const OXCHAR* left, const OXCHAR* right) noexcept;

/// Fills `iterator` from `classes` in the engine's walk order: the list from its last entry to
/// its first, each entry up through its ancestors, each class's members once.
void fillMemberIterator(OxRxMemberIteratorImp& iterator, const OxArray<const OxRxClass*>& classes);

/// The engine's life: made with the boxed-value provider first; deleted at the type system's end.
void startMemberQueryEngine();
void endMemberQueryEngine();
void registerBoxedValueFacetProvider();

} // namespace oxreflect
