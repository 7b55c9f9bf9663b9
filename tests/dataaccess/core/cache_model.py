#!/usr/bin/env python3
"""Model of cached updates in the record list, written independently of the C++ code.

Usage: cache_model.py SEED SORTED OUTFILE

A list of rows (ID, NAME, MEMO) gets a random sequence of insertions, changes, deletions,
reverts, applies, commits, cancels and changes of the visible update statuses. The model
keeps what must be stored (every row's values, status, apply result and old values) and what
must be sent to the apply hook, and writes the sequence with the expected outcome after each
step, one item per line, texts hex-encoded (cp1251):

  row ID NAME MEMO                      a row present before cached updates are switched on
  insert ID NAME MEMO | edit ID FIELD VALUE | delete ID | revert ID | cancel | types BITS
  apply KINDS ANSWER...                 the hook's answers in call order (-1: it raises)
  commit ANSWER...
  error 0|1                             whether the step raised
  sent KIND:ID:NAME:MEMO:OLDNAME:OLDMEMO:LAST ...   the calls the hook received
  state PENDING UNAPPLIED ID:NAME:MEMO:STATUS:RESULT:OLDNAME:OLDMEMO ...  visible rows in order

Rules: statuses 0 unmodified, 1 modified, 2 inserted, 3 deleted; results 0 failed, 2 skipped,
3 retry, 4 applied, 5 none, 6 deferred. A row has one cache entry from its first change on.
Changing a row keeps its values of before the first change (not for a row inserted and not yet
applied); deleting a changed row first restores those values; an inserted row that is deleted
or reverted disappears. Applying walks the entries in order of first change, skipping applied
ones and kinds not asked for; a deferred answer joins a batch that the next other answer
closes with its own result; retry repeats from the batch start (or the row); a raising hook
leaves the row failed (and its batch) and stops. Commit applies what is pending, then forgets
applied entries: deleted rows go, the others become unmodified. With SORTED the rows are kept
in NAME order (names are unique), else new rows go to the end.
"""
import random
import sys

import icu

LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZабвгдежзийклмнопрстуфхцчшщэюяАБВГДЕЁё0123456789"

COLL = icu.Collator.createInstance(icu.Locale.getRoot())
COLL.setStrength(icu.Collator.TERTIARY)
COLL.setAttribute(icu.UCollAttribute.NORMALIZATION_MODE, icu.UCollAttributeValue.ON)


def hexs(text):
    return text.encode("cp1251").hex() if text else "-"


class Row:
    def __init__(self, rid, name, memo):
        self.id, self.name, self.memo = rid, name, memo
        self.status, self.result, self.rollback = 0, 5, None

    def old(self):
        return self.rollback if self.rollback else (self.name, self.memo)


class Model:
    def __init__(self, rng, sorted_by_name):
        self.rng, self.sorted = rng, sorted_by_name
        self.rows, self.cache = [], []
        self.types = 0b0111
        self.names = set()
        self.next_id = 1

    # ---- helpers
    def new_name(self):
        while True:
            n = "".join(self.rng.choice(LETTERS) for _ in range(self.rng.randrange(2, 7)))
            if n not in self.names:
                self.names.add(n)
                return n

    def new_memo(self):
        return "".join(self.rng.choice(LETTERS + " ") for _ in range(self.rng.randrange(0, 12))).strip()

    def order(self):
        if self.sorted:
            self.rows.sort(key=lambda r: COLL.getSortKey(r.name))

    def visible(self):
        return [r for r in self.rows if self.types & (1 << r.status)]

    def find(self, rid):
        return next(r for r in self.rows if r.id == rid)

    def restore(self, r):
        r.name, r.memo = r.rollback
        r.rollback = None

    def remove(self, r):
        self.rows.remove(r)

    # ---- operations
    def insert(self, name, memo):
        r = Row(self.next_id, name, memo)
        self.next_id += 1
        r.status, r.result = 2, 5
        self.rows.append(r)
        self.cache.append(r)
        self.order()
        return r.id

    def edit(self, r, field, value):
        if r.status == 0:
            self.cache.append(r)
        if not (r.status == 2 and r.result != 4):
            r.status = 1
            if r.rollback is None:
                r.rollback = (r.name, r.memo)
        r.result = 5
        if field == 2:
            r.name = value
        else:
            r.memo = value
        self.order()

    def delete(self, r):
        if r.status == 0:
            self.cache.append(r)
            r.status, r.result = 3, 5
        elif r.status == 1:
            self.restore(r)
            r.status, r.result = 3, 5
            self.order()
        elif r.status == 2:
            self.cache.remove(r)
            self.remove(r)

    def revert_item(self, r):
        if r.status == 1:
            self.restore(r)
            r.status = 0
            self.order()
        elif r.status == 2:
            self.remove(r)
            return
        elif r.status == 3:
            r.status = 0
        r.result = 5

    def revert(self, r):
        if r in self.cache:
            self.cache.remove(r)
            self.revert_item(r)

    def cancel(self):
        for r in list(self.cache):
            self.revert_item(r)
        self.cache = []

    def pending(self):
        return any(r.result != 4 for r in self.cache)

    def unapplied(self):
        return any(r.status in (1, 3) and r.result != 4 for r in self.cache)

    def apply(self, kinds, answers, sent):
        """Walks the cache; answers are drawn here and appended. Returns True when the hook raised."""
        wanted = {1: 1, 2: 2, 3: 4}
        kind_of = {1: 0, 2: 1, 3: 2}
        batch, i, retries = [], 0, 0
        while i < len(self.cache):
            r = self.cache[i]
            if r.result == 4 or not kinds & wanted[r.status]:
                i += 1
                continue
            old = r.old() if r.status == 1 else (r.name, r.memo)
            last = i == len(self.cache) - 1
            sent.append((kind_of[r.status], r.id, r.name, r.memo, old[0], old[1], last))
            choices = [4, 4, 4, 4, 2, 6, 6, 0, -1] + ([3] if retries < 2 else [])
            answer = self.rng.choice(choices)
            answers.append(answer)
            action = 0 if answer == -1 else answer
            r.result = action
            restart = batch[0] if batch else r
            if action == 6:
                batch.append(r)
            else:
                for b in batch:
                    b.result = action
                batch = []
            if answer == -1:
                return True
            if action == 3:
                retries += 1
                i = self.cache.index(restart)
                continue
            i += 1
        return False

    def commit(self, answers, sent):
        if self.pending() and self.apply(7, answers, sent):
            return True
        for r in list(self.cache):
            if r.result == 4:
                self.cache.remove(r)
                r.rollback = None
                if r.status == 3:
                    self.remove(r)
                else:
                    r.status, r.result = 0, 5
        return False

    # ---- output
    def state_line(self):
        items = []
        for r in self.visible():
            o = r.old()
            items.append(f"{r.id}:{hexs(r.name)}:{hexs(r.memo)}:{r.status}:{r.result}:{hexs(o[0])}:{hexs(o[1])}")
        return f"state {int(self.pending())} {int(self.unapplied())} " + " ".join(items)


def main():
    seed, sorted_by_name, out = int(sys.argv[1]), sys.argv[2] == "1", sys.argv[3]
    rng = random.Random(seed)
    m = Model(rng, sorted_by_name)
    lines = []
    for _ in range(6):
        r = Row(m.next_id, m.new_name(), m.new_memo())
        m.next_id += 1
        m.rows.append(r)
        lines.append(f"row {r.id} {hexs(r.name)} {hexs(r.memo)}")
    m.order()
    lines.append(m.state_line())
    for _ in range(160):
        vis = m.visible()
        op = rng.choice(["insert"] * 3 + ["edit"] * 5 + ["delete"] * 3 + ["revert"] * 2 + ["apply"] * 2 +
                        ["commit", "cancel" if rng.random() < 0.3 else "edit", "types"])
        if op in ("edit", "delete", "revert") and not vis:
            op = "insert"
        sent, error = [], False
        if op == "insert":
            name, memo = m.new_name(), m.new_memo()
            rid = m.insert(name, memo)
            lines.append(f"insert {rid} {hexs(name)} {hexs(memo)}")
        elif op == "edit":
            r = rng.choice(vis)
            field = rng.choice([2, 3])
            value = m.new_name() if field == 2 else m.new_memo()
            lines.append(f"edit {r.id} {field} {hexs(value)}")
            m.edit(r, field, value)
        elif op == "delete":
            r = rng.choice(vis)
            lines.append(f"delete {r.id}")
            m.delete(r)
        elif op == "revert":
            r = rng.choice(vis)
            lines.append(f"revert {r.id}")
            m.revert(r)
        elif op == "cancel":
            lines.append("cancel")
            m.cancel()
        elif op == "types":
            bits = rng.choice([0b0111, 0b1111, 0b1000, 0b0110, 0b1011])
            lines.append(f"types {bits}")
            m.types = bits
        elif op == "apply":
            kinds = rng.choice([7, 7, 1, 2, 4, 3, 6])
            answers = []
            error = m.apply(kinds, answers, sent)
            lines.append(f"apply {kinds} " + " ".join(map(str, answers)))
        else:
            answers = []
            error = m.commit(answers, sent)
            lines.append("commit " + " ".join(map(str, answers)))
        if op in ("apply", "commit"):
            lines.append(f"error {int(error)}")
            lines.append("sent " + " ".join(f"{k}:{i}:{hexs(n)}:{hexs(mm)}:{hexs(on)}:{hexs(om)}:{int(last)}"
                                            for k, i, n, mm, on, om, last in sent))
        lines.append(m.state_line())
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
