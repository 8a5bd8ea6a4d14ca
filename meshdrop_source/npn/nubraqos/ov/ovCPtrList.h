#pragma once
// A doubly linked list of untyped item pointers (send queues, timer lists, the
// collector's queue). The list owns its nodes, never its items. A cursor keeps
// the node last reached by index or search, so walking by rising index is not
// quadratic.

#include <cstdint>

class ovCPtrList {
public:
    ovCPtrList() = default;
    ovCPtrList(const ovCPtrList&) = delete;
    ovCPtrList& operator=(const ovCPtrList&) = delete;
    ~ovCPtrList() { RemoveAll(); }

    // False only when the node could not be allocated.
    bool Add(void* item);
    void* GetHead() const { return m_head ? m_head->item : nullptr; }
    // Null for a negative or out-of-range index.
    void* GetAt(int index);
    // The removed item, or null when the index is not in the list.
    void* RemoveAt(int index);
    // The item, or null when it is not in the list.
    void* Remove(void* item);
    int GetCount() const { return m_count; }
    void RemoveAll();

private:
    struct Node {
        void* item;
        Node* prev;
        Node* next;
    };

    Node* NodeAt(int index);
    void Unlink(Node* node, int index);

    int m_count = 0;
    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    Node* m_cursor = nullptr;
    int m_cursorIndex = 0;
};
