"""Demo data for the Qel exchange database: consistent rows of every kind, at a chosen size, from a seed.

The same seed, size and anchor date give the same database. Reference data, clients, cards and the
exchange history are made here row by row; transactions and their goods lines, the bulk of a large
database, are made by SQL inside SQLite from a deterministic hash of the row number, so that millions
of them take seconds rather than minutes.

Time runs up to the anchor date (midnight): the database has sent one package a day for every day but
the last, and what happened on the last day waits for the next package.
"""

import datetime
import random

SIZES = {
    "tiny": dict(clients=12, transactions=300, days=4),
    "small": dict(clients=300, transactions=50_000, days=30),
    "medium": dict(clients=5_000, transactions=1_000_000, days=60),
    "large": dict(clients=20_000, transactions=10_000_000, days=90),
}

SELF_EMITENT, SELF_FILIAL = 7, 1

SERVICES = [  # srv_id, name, unit, active, is currency
    (1, "Аи-92", "л", 1, 0),
    (2, "Аи-95", "л", 1, 0),
    (3, "Аи-98", "л", 1, 0),
    (4, "ДТ", "л", 1, 0),
    (5, "Газ", "л", 1, 0),
    (6, "Рубли", "руб.", 1, 1),
    (7, "Товары магазина", "шт.", 1, 0),
    (8, "Аи-80", "л", 0, 0),
]
FUEL = [1, 2, 3, 4, 5]
SHOP = 7
FUEL_PRICE = {1: 48.90, 2: 53.40, 3: 61.15, 4: 59.80, 5: 27.30}

GOODS = [  # code, name, price
    ("4601234500011", "Омыватель стекла -20, 4 л", 349.00),
    ("4601234500028", "Кофе американо 0,3", 129.00),
    ("4601234500035", "Масло моторное 5W-40, 1 л", 689.00),
    ("4601234500042", "Вода питьевая 0,5 л", 59.00),
    ("4601234500059", "Щётка стеклоочистителя", 455.00),
    ("4601234500066", "Хот-дог", 169.00),
    ("4601234500073", "Ароматизатор «Ёлочка»", 99.00),
    ("4601234500080", "Салфетки влажные", 79.50),
]

SURNAMES = ["Иванов", "Петров", "Сидоров", "Кузнецов", "Смирнов", "Попов", "Волков", "Соколов", "Лебедев",
            "Козлов", "Новиков", "Морозов", "Павлов", "Фёдоров", "Орлов", "Зайцев"]
INITIALS = "АБВГДЕИКЛМНОПРСТ"
FIRM_WORDS = ["Транс", "Логистик", "Сервис", "Агро", "Строй", "Авто", "Нефте", "Торг", "Экспресс", "Техно"]
FIRM_KINDS = ["ООО", "АО", "ИП", "ЗАО"]
CITIES = ["Москва", "Тверь", "Клин", "Дмитров", "Химки", "Подольск"]
STREETS = ["Ленина", "Мира", "Садовая", "Заводская", "Лесная", "Шоссейная"]
VEHICLES = ["КАМАЗ 65115", "ГАЗель Next", "Volvo FH", "Лада Ларгус", "Scania R440", "УАЗ Профи"]
PLATE_LETTERS = "АВЕКМНОРСТУХ"
COMMENTS = ["Заправка по путевому листу", "Возврат топлива", "Корректировка остатка", "Списание по акту"]
FIRM_CONFIGS = [("CURRENCY", "RUB"), ("MAX_CARDS_PER_CLIENT", "500"), ("SUPPORT_PHONE", "+7 800 555-01-01"),
                ("VC_ENABLED", "1"), ("WEB_TIMEZONE", "+03:00")]

# Multipliers of the row hash used by the SQL stages; P is the prime 2^31 - 1.
HASH_P = 2147483647


def sizes(name, clients=None, transactions=None, days=None):
    s = dict(SIZES[name])
    if clients is not None:
        s["clients"] = clients
    if transactions is not None:
        s["transactions"] = transactions
    if days is not None:
        s["days"] = days
    return s


def text_time(t):
    return t.strftime("%Y-%m-%d %H:%M:%S")


class Generator:
    def __init__(self, db, seed, clients, transactions, days, anchor):
        if clients < 4:
            raise ValueError("at least 4 clients are needed (one of each system and client type)")
        if days < 2:
            raise ValueError("at least 2 days are needed (a sent one and the one waiting)")
        self.db = db
        self.seed = seed
        self.rnd = random.Random(seed)
        self.n_clients = clients
        self.n_transactions = transactions
        self.days = days
        self.anchor = datetime.datetime.combine(anchor, datetime.time())
        self.start = self.anchor - datetime.timedelta(days=days)
        self.history = []  # ids of the packages sent so far, one a day, oldest first
        self.stamped = set()  # kinds of rows stamped so far

    # ---- helpers --------------------------------------------------------------------------------------

    def guid(self):
        h = "%032X" % self.rnd.getrandbits(128)
        return "{%s-%s-%s-%s-%s}" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])

    def day(self, back_from=0, back_to=None):
        """A moment between back_to and back_from days before the anchor."""
        back_to = self.days if back_to is None else back_to
        # a range that has shrunk to nothing (two days of history) gives its start
        seconds = self.rnd.randint(int(back_from * 86400), max(int(back_from * 86400), int(back_to * 86400) - 1))
        return text_time(self.anchor - datetime.timedelta(seconds=seconds))

    def package_after(self, moment):
        """The first package sent after a moment (None when none was)."""
        created = [r[0] for r in self.db.execute(
            "SELECT package_id FROM out_package WHERE datetime_create > ? ORDER BY datetime_create LIMIT 1", (moment,))]
        return created[0] if created else None

    def stamp(self, kind, pending=0.1):
        """The package that carried a row of a kind, or None for a row that waits for the next package.
        The first row of every kind waits, so that even the smallest database has some of each to send."""
        if kind not in self.stamped or self.rnd.random() < pending:
            self.stamped.add(kind)
            return None
        return self.rnd.choice(self.history)

    def person(self):
        return "%s %s.%s." % (self.rnd.choice(SURNAMES), self.rnd.choice(INITIALS), self.rnd.choice(INITIALS))

    def address(self):
        return "г. %s, ул. %s, %d" % (self.rnd.choice(CITIES), self.rnd.choice(STREETS), self.rnd.randint(1, 200))

    def plate(self):
        r = self.rnd
        return "%s%03d%s%s%d" % (r.choice(PLATE_LETTERS), r.randint(1, 999), r.choice(PLATE_LETTERS),
                                 r.choice(PLATE_LETTERS), r.choice([77, 97, 177, 69, 50]))

    def insert(self, table, rows):
        rows = list(rows)
        if rows:
            marks = ", ".join("?" * len(rows[0]))
            self.db.executemany("INSERT INTO %s VALUES (%s)" % (table, marks), rows)

    def insert_dicts(self, table, rows):
        rows = list(rows)
        if rows:
            cols = list(rows[0])
            self.db.executemany("INSERT INTO %s(%s) VALUES (%s)" % (table, ", ".join(cols), ", ".join("?" * len(cols))),
                                [tuple(r[c] for c in cols) for r in rows])

    # ---- the whole database ---------------------------------------------------------------------------

    def run(self):
        self.packages()
        self.reference()
        self.clients()
        self.cards()
        self.online()
        self.tariffs()
        self.coupons()
        self.requests()
        self.web_packages()
        self.transactions()

    def packages(self):
        """One package sent a day, each confirmed by the web side but the last two; one to repeat."""
        rows = []
        for d in range(self.days - 1):
            created = self.start + datetime.timedelta(days=d + 1, minutes=5)
            pid = self.guid()
            self.history.append(pid)
            unconfirmed = d >= self.days - 3
            rows.append(dict(package_id=pid, datetime_create=text_time(created),
                             datetime_registered=text_time(created),
                             datetime_send=text_time(created + datetime.timedelta(minutes=1)), send_count=1,
                             repeat_requested=1 if d == self.days - 2 else 0,
                             confirmed_state=None if unconfirmed else 1,
                             datetime_receipt=None if unconfirmed
                             else text_time(created + datetime.timedelta(hours=1))))
        self.insert_dicts("out_package", rows)

    def reference(self):
        self.insert("self_emitent", [(SELF_EMITENT, SELF_FILIAL)])
        self.insert("emitent", [
            (SELF_EMITENT, 1, "АЗС-Сервис, головной офис", 1, 1001),
            (SELF_EMITENT, 2, "АЗС-Сервис, филиал «Север»", 1, 1001),
            (8, 1, "Emitent 8 (Partner)", 1, 1002),
            (9, 1, "Нефтесбыт, закрыт", 0, 1003),
        ])
        self.insert("service", SERVICES)
        self.insert("ad_params", [(1, 3)])
        self.insert("rfid_params", [(1,)])
        self.insert("emitent_config", FIRM_CONFIGS)
        self.pos = []
        for n in range(1, max(6, min(400, self.n_clients // 4)) + 1):
            emt, fil = (SELF_EMITENT, 1) if n % 5 else (SELF_EMITENT, 2)
            if n % 11 == 0:
                emt, fil = 8, 1
            terms = self.rnd.randint(1, 4)
            self.pos.append((emt, fil, n, terms))
            address = self.address()
            self.insert("pos", [(emt, fil, n, "АЗС №%d" % n, address, 1, self.stamp("pos"))])
            for srv in self.rnd.sample(FUEL, 4):
                price = round(FUEL_PRICE[srv] + self.rnd.randint(-150, 150) / 100 + self.rnd.choice([0, 0.0045]), 4)
                start = self.day(1, 20)[:10] + " 00:00:00"
                self.insert("pos_price", [(n, 1, srv, price, start, 1, self.stamp("pos_price"))])

    def clients(self):
        """Clients of both systems and both types; the first four are one of each, and new."""
        self.client_rows = []
        for cid in range(1, self.n_clients + 1):
            if cid <= 4:
                source, ctype = [(1, 1), (1, 2), (2, 1), (2, 2)][cid - 1]
            else:
                source = 1 if self.rnd.random() < 0.75 else 2
                ctype = 1 if self.rnd.random() < 0.7 else 2
            firm = ctype == 1
            if firm:
                name = "%s «%s%s-%d»" % (self.rnd.choice(FIRM_KINDS), self.rnd.choice(FIRM_WORDS),
                                          self.rnd.choice(FIRM_WORDS).lower(), cid)
            else:
                name = self.person()
            online = source == 1 and firm and (cid == 1 or self.rnd.random() < 0.5)
            c = dict(client_id=cid, client_type=ctype, source=source, client_name=name,
                     name_for_report=name.upper() if firm else name,
                     e_mail="client%d@example.test" % cid, phone="+7 9%02d %03d-%02d-%02d" % (
                         self.rnd.randint(0, 99), self.rnd.randint(0, 999), self.rnd.randint(0, 99),
                         self.rnd.randint(0, 99)),
                     state=1, in_black_list=1 if self.rnd.random() < 0.03 else 0,
                     max_gr_card_num=str(self.rnd.choice([10, 50, 100, 500])) if firm else "2",
                     sign_dayli_limit=self.rnd.randint(0, 1), sign_dayli_inform=self.rnd.randint(0, 1),
                     sign_weekly_limit=self.rnd.randint(0, 1), sign_weekly_inform=self.rnd.randint(0, 1),
                     sign_monthly_limit=self.rnd.randint(0, 1), sign_monthly_inform=self.rnd.randint(0, 1),
                     onl_client_id=self.guid() if online else None,
                     inn="77%08d" % cid if firm else None, kpp="770101001" if firm else None,
                     address=self.address(),
                     fact_address=None, account="40702810%012d" % cid if firm else None,
                     bank_name="ПАО «Банк»" if firm else None, corr_account="30101810400000000225" if firm else None,
                     bik="044525225" if firm else None, fax=None, consignee_id=cid if firm else None,
                     buyer_firm_id=cid if firm else None,
                     contract_date=self.day(100, 900)[:10] + " 00:00:00" if firm else None,
                     contract_num="Д-%05d" % cid if firm else None, director_fio=self.person() if firm else None,
                     director_post="Генеральный директор" if firm else None,
                     controller_fio=self.person() if firm else None,
                     warrant_number="%d/%d" % (cid, 2024) if firm else None,
                     warrant_date=self.day(30, 300)[:10] + " 00:00:00" if firm else None,
                     manager_email="manager%d@example.test" % (cid % 5) if firm else None,
                     client_tarif=None,
                     birth=None if firm else "%04d-%02d-%02d 00:00:00" % (self.rnd.randint(1950, 2004),
                                                                          self.rnd.randint(1, 12),
                                                                          self.rnd.randint(1, 28)),
                     sex=None if firm else self.rnd.choice("MF"),
                     is_new=1 if cid <= 4 or self.rnd.random() < 0.02 else 0, new_package_id=None,
                     package_id=self.stamp("client%d" % source, 0.05))
            c["fact_address"] = c["address"] if firm else None
            self.client_rows.append(c)
        self.insert_dicts("client", self.client_rows)
        accounts = []
        for c in self.client_rows:
            if c["source"] != 1:
                continue
            for srv in [6] + ([self.rnd.choice(FUEL)] if c["client_type"] == 1 else []):
                balance = round(self.rnd.uniform(-5000, 250000), 2)
                accounts.append((c["client_id"], c["client_type"], srv, balance, 10000, 5000, 50000, 20000,
                                 self.rnd.choice([0, 5, 10]), 0 if c["client_type"] == 2 else 10000, 100000,
                                 round(self.rnd.uniform(0, 5000), 2) if c["onl_client_id"] else 0))
        self.insert("account", accounts)

    def cards(self):
        self.card_rows = []
        seq = 0
        for c in self.client_rows:
            count = self.rnd.randint(2, 6) if c["client_type"] == 1 else self.rnd.randint(1, 2)
            for k in range(count):
                seq += 1
                qel = c["source"] == 1
                holder = self.person() if c["client_type"] == 1 else c["client_name"]
                card = dict(crd_graphnum="%012d" % (700100000000 + seq), client_id=c["client_id"],
                            client_type=c["client_type"], crd_state=1 if self.rnd.random() < 0.95 else 2,
                            crd_holder=holder,
                            prs_bns_exist=self.rnd.randint(0, 1) if qel else None,
                            prs_bonus_size=round(self.rnd.uniform(0, 3000), 2) if qel else None,
                            prs_bonus_quota=round(self.rnd.uniform(0, 1000), 2) if qel else None,
                            max_consumption=self.rnd.choice([100, 250, 500.5, 1000]) if qel else None,
                            petroltank=self.rnd.choice([45, 60, 70.5, 400]) if qel else None,
                            is_vc_card=1 if qel and c["onl_client_id"] and k == 0 else 0,
                            dolm_type=None if qel else self.rnd.randint(1, 3),
                            current_bonus=None if qel else round(self.rnd.uniform(0, 2000), 2),
                            max_bonus=None if qel else 5000,
                            old_bonus=None if qel else round(self.rnd.uniform(0, 500), 2),
                            discont_percent=None if qel else self.rnd.choice([0, 1.5, 3, 5]),
                            expiry_date=None if qel
                            else "%04d-12-31 00:00:00" % (self.anchor.year + self.rnd.randint(1, 3)),
                            ad_bonus=None if qel else round(self.rnd.uniform(0, 300), 2),
                            ad_begin_of_period=None if qel else text_time(self.anchor.replace(day=1)))
                self.card_rows.append(card)
        self.insert_dicts("card", self.card_rows)
        self.cards_of = {}
        for card in self.card_rows:
            self.cards_of.setdefault((card["client_id"], card["client_type"]), []).append(card)
        clients = {(c["client_id"], c["client_type"]): c for c in self.client_rows}
        purses, tags = [], []
        for card in self.card_rows:
            c = clients[(card["client_id"], card["client_type"])]
            if c["source"] != 1:
                continue
            for srv in self.rnd.sample(FUEL, self.rnd.randint(1, 2)):
                purses.append((card["crd_graphnum"], srv, round(self.rnd.uniform(0, 3000), 2),
                               round(self.rnd.uniform(0, 500), 2), self.rnd.choice([200, 500, 1000]),
                               self.rnd.randint(1, 3), self.rnd.randint(0, 1), self.rnd.randint(1, 3)))
            if self.rnd.random() < 0.2 or card is self.card_rows[0]:
                tags.append(self.tag(c, card["crd_graphnum"]))
        for c in self.client_rows:
            if c["source"] == 1 and c["client_type"] == 1 and (c["client_id"] == 1 or self.rnd.random() < 0.3):
                tags.append(self.tag(c, None))
        self.insert("purse", purses)
        self.insert_dicts("mifare", tags)

    def tag(self, client, card):
        return dict(mifare_num="%014X" % self.rnd.getrandbits(56), mifare_serial_num="%08X" % self.rnd.getrandbits(32),
                    client_id=client["client_id"], client_type=client["client_type"], card_petrol_num=card,
                    days=self.rnd.choice(["1111111", "1111100", "0000011"]), time_from=self.rnd.choice([0, 360, 480]),
                    time_to=self.rnd.choice([1200, 1320, 1439]), petroltank=self.rnd.choice([60, 200, 400]),
                    vehicle_name=self.rnd.choice(VEHICLES), vehicle_number=self.plate())

    def online(self):
        """Online clients: their limits, online cards and card limits."""
        limits, onl_cards, card_limits = [], [], []
        for c in self.client_rows:
            oid = c["onl_client_id"]
            if not oid:
                continue
            for srv in self.rnd.sample(FUEL, self.rnd.randint(1, 2)):
                limits.append((oid, self.rnd.randint(0, 1), self.rnd.randint(0, 2), srv, 5000, 25000, 100000,
                               1, self.stamp("onl_limit")))
            for card in self.cards_of[(c["client_id"], c["client_type"])]:
                onl_cards.append((card["crd_graphnum"], oid, "1111100", 0, 1439, self.rnd.randint(1, 2),
                                  self.plate(), 1, self.stamp("onl_card")))
                if self.rnd.random() < 0.5:
                    card_limits.append((card["crd_graphnum"], self.rnd.randint(0, 1), self.rnd.randint(0, 2),
                                        self.rnd.choice(FUEL), 3000, 15000, 60000, 1, self.rnd.randint(0, 1), 1,
                                        self.stamp("onl_card_limit")))
        self.insert("onl_limit", limits)
        self.insert("onl_card", onl_cards)
        self.insert("onl_card_limit", card_limits)

    def tariffs(self):
        tariffs, prices, discounts = [], [], []
        for t in range(1, 6):
            tariffs.append((t, 100 + t % 3, 1, self.stamp("client_tarif")))
            for srv in FUEL:
                prices.append((t, srv, self.day(1, 20)[:10] + " 00:00:00",
                               round(FUEL_PRICE[srv] - t * 0.25, 2), 1, self.stamp("client_tarif_price")))
            for srv in self.rnd.sample(FUEL, 2):
                discounts.append((t, srv, self.rnd.choice([1, 2.5, 3, 0.5]), self.rnd.randint(1, 2), 1,
                                  self.stamp("client_tarif_discount")))
        self.insert("client_tarif", tariffs)
        self.insert("client_tarif_price", prices)
        self.insert("client_tarif_discount", discounts)
        self.db.execute("UPDATE client SET client_tarif = 1 + client_id % 5 WHERE source = 1 AND client_type = 1")

    def coupons(self):
        """Coupon settings and security codes of online clients; a group of coupons for those who may."""
        settings, codes, limits, groups, coupons = [], [], [], [], []
        number = 0
        for c in self.client_rows:
            oid = c["onl_client_id"]
            if not oid:
                continue
            may = c["client_id"] == 1 or self.rnd.random() < 0.5
            table = c["client_id"]
            settings.append((oid, 1 if may else 0, self.rnd.randint(0, 1), self.rnd.randint(0, 1),
                             self.day(1, 10) if may else None, text_time(self.anchor + datetime.timedelta(days=365)),
                             1, table, 10, text_time(self.anchor + datetime.timedelta(days=180)),
                             self.stamp("coupon_setting")))
            codes += [(table, k, "%06d" % self.rnd.randint(0, 999999)) for k in range(1, 11)]
            if not may:
                continue
            limits.append((oid, self.rnd.randint(0, 1), self.rnd.randint(0, 1), self.rnd.choice(FUEL), 2000, 10000,
                           40000, 1, self.stamp("coupon_limit")))
            vc_card = next(k["crd_graphnum"] for k in self.cards_of[(c["client_id"], c["client_type"])]
                           if k["is_vc_card"])
            group, srv, created = self.guid(), self.rnd.choice(FUEL), self.day(1, self.days)
            amount = self.rnd.randint(2, 5)
            groups.append((group, c["client_id"], c["client_type"], srv, 1, 1000.0, 20.0, amount,
                           text_time(self.anchor + datetime.timedelta(days=90)), c["client_name"], c["phone"],
                           c["e_mail"], created))
            for k in range(amount):
                number += 1
                state = self.rnd.choice([1, 1, 1, 3, 4])
                coupons.append((self.guid(), group, state, "VC%010d" % number, created,
                                created if state == 4 else None, 1000.0, vc_card, self.stamp("coupon")))
        self.insert("coupon_setting", settings)
        self.insert("sec_code", codes)
        self.insert("coupon_limit", limits)
        self.insert("coupon_group", groups)
        self.insert("coupon", coupons)
        self.db.execute("UPDATE zuv_seq SET value = ? WHERE name = 'coupon_number'", (number,))

    def requests(self):
        """The web side's requests of the last weeks: most answered and reported, some answered and
        waiting for the next package, a few still waiting for the back office."""
        first_qel = {(c["client_id"], c["client_type"]) for c in self.client_rows[:8] if c["source"] == 1}
        qel_cards = [k for k in self.card_rows if (k["client_id"], k["client_type"]) in first_qel]
        purses = {(r[0], r[1]) for r in self.db.execute("SELECT gr_nomer, prs_srv_id FROM purse")}
        count = max(6, min(300, self.n_clients // 2))
        for n in range(1, count + 1):
            card = self.rnd.choice(qel_cards)
            srv = next((s for s in FUEL if (card["crd_graphnum"], s) in purses), FUEL[0])
            # the last few wait for the back office, the ones before them for the next package
            answered = n <= count - 2
            reported = n <= count - 4
            state = (2 if self.rnd.random() < 0.9 else 3) if answered else 1
            received = self.day(2, self.days) if reported else self.day(0, 1)
            answer = received if answered else None
            base = dict(client_id=card["client_id"], client_type=card["client_type"], card_number=card["crd_graphnum"],
                        service_id=srv, amount=round(self.rnd.uniform(100, 20000), 2), date_of=received,
                        received=received, request_state_id=state, cancel_cause_id=1 if state == 3 else None,
                        date_begin=answer, date_end=answer, date_of_answer=answer,
                        package_id=self.package_after(received) if reported else None)
            self.insert_dicts("dr_request", [dict(base, dr_request_id=n, dr_group_id=n if answered else None,
                                                  dr_id_in_group=1 if answered else None,
                                                  price=FUEL_PRICE[srv] if answered else None)])
            self.insert_dicts("dd_request", [dict(base, dd_request_id=n, dd_group_id=n if answered else None,
                                                  dd_id_in_group=1 if answered else None,
                                                  dd_price=FUEL_PRICE[srv] if answered else None)])
            oil = {k: base[k] for k in ("client_id", "client_type", "card_number", "service_id", "amount",
                                        "date_of", "received", "request_state_id", "cancel_cause_id",
                                        "date_begin", "date_end", "date_of_answer", "package_id")}
            self.insert_dicts("oil_request", [dict(oil, oil_request_id=n, current_limit=500, current_type=1,
                                                   current_kind=0, current_services="%d" % srv, guid=self.guid())])
            onl = {k: base[k] for k in ("client_id", "client_type", "card_number", "service_id", "date_of",
                                        "received", "request_state_id", "cancel_cause_id", "date_of_answer",
                                        "package_id")}
            self.insert_dicts("onl_limit_card_request", [dict(onl, request_id=n, daily_limit=3000, weekly_limit=15000,
                                                              monthly_limit=60000, limit_type=self.rnd.randint(0, 2),
                                                              is_ind_limit=1)])
        groups = list(self.db.execute("SELECT vc_group_id, client_id, client_type, created FROM coupon_group"))
        for n, (group, cid, ctype, created) in enumerate(groups, start=1):
            self.insert_dicts("coupon_request", [dict(request_id=n, type_request=1, vc_group_id=group, vc_guid=None,
                                                      client_id=cid, client_type=ctype, date_create=created,
                                                      received=created, request_state_id=2, cancel_cause_id=None,
                                                      date_of_answer=created,
                                                      package_id=self.stamp("coupon_request", 0.3))])

    def web_packages(self):
        """Packages the web side sent: imported and confirmed by one of ours, the newest still to confirm."""
        rows = []
        count = max(3, self.days // 2)
        for n in range(count):
            received = self.day(0, 1) if n == count - 1 else self.day(2, self.days)
            rows.append((self.guid(), received, received, 1, 1,
                         None if n == count - 1 else self.rnd.choice(self.history)))
        self.insert("in_package", rows)

    # ---- transactions, in SQL ---------------------------------------------------------------------------

    def hash_sql(self, salt):
        """A pseudo-random integer in [0, 2^31 - 1) of the row number i: squaring a linear step modulo a
        prime scatters neighbouring rows; every product stays well inside 64 bits."""
        a = "((i * %d + %d) %% %d)" % (48271 + 2 * salt, (self.seed * 7919 + salt * 104729) % HASH_P, HASH_P)
        return "((%s * %s) %% %d)" % (a, a, HASH_P)

    def transactions(self):
        db = self.db
        db.execute("CREATE TEMP TABLE g_card(k INTEGER PRIMARY KEY, num, client_id, client_type, source, online)")
        db.execute("""INSERT INTO g_card(num, client_id, client_type, source, online)
                      SELECT k.crd_graphnum, k.client_id, k.client_type, c.source, c.onl_client_id IS NOT NULL
                      FROM card k JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
                      ORDER BY k.crd_graphnum""")
        db.execute("UPDATE g_card SET k = k - 1")
        db.execute("CREATE TEMP TABLE g_pos(k INTEGER PRIMARY KEY, emt, fil, num, terms)")
        self.insert("g_pos", [(i,) + p for i, p in enumerate(self.pos)])
        db.execute("CREATE TEMP TABLE g_srv(k INTEGER PRIMARY KEY, srv, price)")
        # fuel four times as often as the shop
        self.insert("g_srv", [(i, s, FUEL_PRICE[s]) for i, s in enumerate(FUEL * 4)] +
                    [(20 + i, SHOP, 150.0) for i in range(5)])
        db.execute("CREATE TEMP TABLE g_day(d INTEGER PRIMARY KEY, package_id)")
        self.insert("g_day", [(d, self.history[d] if d < len(self.history) else None) for d in range(self.days)])
        db.execute("CREATE TEMP TABLE g_comment(k INTEGER PRIMARY KEY, text)")
        self.insert("g_comment", list(enumerate(COMMENTS)))
        ncards = db.execute("SELECT count(*) FROM g_card").fetchone()[0]
        n, span = self.n_transactions, self.days * 86400
        h1, h2, h3, h4 = (self.hash_sql(s) for s in (1, 2, 3, 4))
        db.execute(f"""
            INSERT INTO trn(trn_id, trn_guid, source, client_id, client_type, trn_emt_pos, trn_fil_pos, trn_pos_num,
                            trn_term_num, trn_card_num, trn_dateof, trn_srv_id, trn_curr_id, trn_amount,
                            trn_cost_on_pos, trn_cost_client, trn_price_on_pos, trn_price_client, trn_delta_price,
                            trn_delta_cost, pos_delta_price, pos_delta_cost, trn_schema_num, trn_type, acc_comment,
                            odometr, rfid_num, discount_percent, discount_type, trn_bonus, current_bonus, package_id)
            WITH RECURSIVE seq(i) AS (SELECT 1 WHERE {n} > 0 UNION ALL SELECT i + 1 FROM seq WHERE i < {n}),
            r AS (SELECT i, {h1} AS h1, {h2} AS h2, {h3} AS h3, {h4} AS h4 FROM seq),
            v AS (SELECT r.*, c.num, c.client_id, c.client_type, c.source, c.online, p.emt, p.fil, p.num AS pos,
                         p.terms, s.srv, s.price,
                         CASE WHEN s.srv = {SHOP} THEN 1 + h3 % 5 ELSE 5 + (h3 % 6000) / 100.0 END AS amount,
                         CASE WHEN s.srv = {SHOP} THEN 0 ELSE (h4 % 200) / 100.0 END AS discount
                  FROM r JOIN g_card c ON c.k = r.h1 % {ncards}
                         JOIN g_pos p ON p.k = r.h2 % (SELECT count(*) FROM g_pos)
                         JOIN g_srv s ON s.k = CASE WHEN r.h3 % 100 < 10 THEN 20 + r.h4 % 5 ELSE r.h3 % 20 END)
            SELECT i,
                   printf('{{%08X-%04X-%04X-%04X-%012X}}', h1, h2 % 65536, h3 % 65536, h4 % 65536, i),
                   source, client_id, client_type, emt, fil, pos, 1 + h2 % terms, num,
                   datetime('{text_time(self.start)}', '+' || ((i - 1) * {span} / {n}) || ' seconds'),
                   srv, 643, amount,
                   round(amount * price, 2), round(amount * (price - discount), 2),
                   price, round(price - discount, 2), discount, round(amount * discount, 2),
                   0, 0,
                   CASE WHEN source = 1 THEN 1 + h4 % 3 END,
                   CASE WHEN h4 % 100 = 7 THEN 2 ELSE 1 END,
                   CASE WHEN h1 % 50 = 0 THEN (SELECT text FROM g_comment WHERE k = h2 % {len(COMMENTS)}) END,
                   CASE WHEN source = 1 AND client_type = 1 THEN 10000 + h3 % 290000 + (h4 % 10) / 10.0 END,
                   CASE WHEN online AND h2 % 4 = 0 THEN 1000000000000 + h1 END,
                   CASE WHEN source = 2 THEN (h4 % 5) * 1.0 END,
                   CASE WHEN source = 2 THEN 1 END,
                   CASE WHEN source = 2 THEN round(amount * price * 0.01, 2) END,
                   CASE WHEN source = 2 THEN (h3 % 200000) / 100.0 END,
                   (SELECT package_id FROM g_day WHERE d = (i - 1) * {self.days} / {n})
            FROM v""")
        db.execute("CREATE TEMP TABLE g_goods(k INTEGER PRIMARY KEY, code, name, price)")
        self.insert("g_goods", [(i,) + g for i, g in enumerate(GOODS)])
        db.execute(f"""
            INSERT INTO ibs_line(trn_id, guid_139, gdscode, gdsname, amount, price)
            SELECT t.trn_id, printf('{{%08X-0139-4000-8000-%012X}}', t.trn_id % 4294967296, t.trn_id * 4 + ks.k),
                   g.code, g.name, 1 + (t.trn_id + ks.k) % 3, g.price
            FROM trn t
              JOIN (SELECT 1 AS k UNION ALL SELECT 2 UNION ALL SELECT 3) ks ON ks.k <= 1 + t.trn_id % 3
              JOIN g_goods g ON g.k = (t.trn_id * 7 + ks.k) % {len(GOODS)}
            WHERE t.trn_srv_id = {SHOP}
            ORDER BY t.trn_id, ks.k""")
        for t in ("g_card", "g_pos", "g_srv", "g_day", "g_comment", "g_goods"):
            db.execute("DROP TABLE temp.%s" % t)
